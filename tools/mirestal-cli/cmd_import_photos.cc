// import-photos ROSTER DIR [--program-dir DIR] [--replace] [--dry-run]: pictures from a camera or
// an earlier year's folder, each matched to its student by its file name (registration number
// or unique name), framed by the rule and stored in the photo folder as the capture button
// stores photos. One line per picture (file, outcome, student's key, detail), then the counts.
// The pictures are only read. Exit status 1 when any picture was not stored.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/face/photo_import.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "tools/mirestal-cli/command.h"
#include "tools/mirestal-cli/photo_report.h"

namespace mirestal::cli {
namespace {

int RunImportPhotos(const std::vector<std::string>& args) {
  std::string roster, folder, program_dir;
  ImportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--program-dir") {
      if (++i == args.size()) throw UsageError("--program-dir needs a folder");
      program_dir = args[i];
    } else if (a == "--replace") {
      options.replace = true;
    } else if (a == "--dry-run") {
      options.store = false;
    } else if (a.starts_with("--")) {
      throw UsageError("unexpected argument '" + a + "'");
    } else if (roster.empty()) {
      roster = a;
    } else if (folder.empty()) {
      folder = a;
    } else {
      throw UsageError("unexpected argument '" + a + "'");
    }
  }
  if (folder.empty()) throw UsageError("import-photos takes a roster and a folder of pictures");
  if (program_dir.empty()) program_dir = ExecutableDirectory();
  if (!program_dir.ends_with('/')) program_dir += '/';
  const PhotoStore store(program_dir);
  // Photos are written into the photo folder: it cannot be the folder the pictures come from.
  if (FileSystem::Default().SameFile(folder, store.PhotoFolder())) {
    throw std::runtime_error(DisplayPath(folder) + ": 照片文件夹本身不能作为导入照片的文件夹");
  }

  const RosterForCheck read = ReadRosterForCheck(roster);
  std::vector<ImportPicture> pictures = ListPictureFolder(folder);
  MatchPictures(pictures, StudentMatcher(read.students));

  // Lines in the folder's order, each as soon as it and all before it are decided.
  std::vector<bool> finished(pictures.size(), false);
  size_t printed = 0;
  const auto print_ready = [&](int index) {
    finished[static_cast<size_t>(index)] = true;
    for (; printed < pictures.size() && finished[printed]; ++printed) {
      const ImportPicture& p = pictures[printed];
      std::string line = p.name + "\t";
      line += (p.outcome == ImportOutcome::kStored && !options.store)
                  ? std::string("would-store")
                  : std::string(ImportOutcomeToken(p.outcome));
      line += "\t";
      if (p.match.student >= 0) {
        line += KeyForMessage(TrimKey(read.students[static_cast<size_t>(p.match.student)].key_gbk));
      }
      line += "\t";
      if (p.duplicate_of >= 0) line += "与 " + pictures[static_cast<size_t>(p.duplicate_of)].name + " 重复";
      if (!p.detail.empty()) line += (p.duplicate_of >= 0 ? "；" : "") + p.detail;
      if (p.kept_as_is) line += "原文件已符合标准，原样保存";
      PrintLine(line);
    }
    std::fflush(stdout);
  };
  ImportPictures(pictures, read.students, store, options, {}, print_ready);

  const std::vector<int> counts = CountOutcomes(pictures);
  std::string summary;
  for (int i = 0; i < kImportOutcomeCount; ++i) {
    const auto outcome = static_cast<ImportOutcome>(i);
    if (!summary.empty()) summary += ", ";
    summary += (outcome == ImportOutcome::kStored && !options.store)
                   ? std::string("would-store")
                   : std::string(ImportOutcomeToken(outcome));
    summary += " " + std::to_string(counts[static_cast<size_t>(i)]);
  }
  if (!options.store) summary += " (dry run: nothing written)";
  PrintLine(summary);
  const int stored = counts[static_cast<int>(ImportOutcome::kStored)];
  return stored == static_cast<int>(pictures.size()) ? 0 : 1;
}

CommandRegistrar import_photos_command(
    {"import-photos", "import-photos ROSTER DIR [--program-dir DIR] [--replace] [--dry-run]",
     RunImportPhotos});

}  // namespace
}  // namespace mirestal::cli
