// photos: checks a photo folder against a roster before the photos are handed in.
//
// One line per visible student: the trimmed key, then "present WxH BYTES", "damaged WxH BYTES"
// (the header reads but the picture data is cut short or corrupt: the window shows only part of
// it), "missing", "unreadable" (no JPEG header; an empty file included) or "refused-key" (the
// key cannot name a photo file). Then one summary line with the five counts. The header is read
// first; only a file of a photo's plausible size is then read whole and decoded, so a huge file
// named like a photo costs no memory.
#include <cstdio>
#include <string>

#include "capture/jpeg.h"
#include "capture/photo_store.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "table/dataset.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

// Photos are tens of kilobytes; anything larger than this is only looked at through its header.
constexpr uint64_t kDecodeLimit = 32u << 20;

int RunPhotos(const std::vector<std::string>& args) {
  std::string roster;
  std::string program_dir;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--program-dir") {
      if (++i == args.size()) throw UsageError("--program-dir needs a folder");
      program_dir = args[i];
    } else if (roster.empty() && !args[i].starts_with("--")) {
      roster = args[i];
    } else {
      throw UsageError("unexpected argument '" + args[i] + "'");
    }
  }
  if (roster.empty()) throw UsageError("photos takes a roster file");
  // The window takes the photo folder from the executable's folder; the tools are installed
  // beside it.
  if (program_dir.empty()) program_dir = ExecutableDirectory();
  PhotoStore store(program_dir);

  TTableDataSet dataset;
  ConfigureRoster(dataset, roster);
  dataset.ReadOnly = true;
  dataset.Open();
  const std::string key_name = *Utf8ToGbk("考籍号");
  TField* key_field = dataset.FindField(key_name);
  if (!key_field) throw std::runtime_error(roster + ": the roster has no field 考籍号");

  int present = 0, damaged = 0, missing = 0, unreadable = 0, refused = 0;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    const std::string key = key_field->AsString();
    std::string line = KeyForMessage(TrimKey(key)) + "\t";
    const std::optional<std::string> path = store.PhotoFileName(key);
    if (!path) {
      line += "refused-key";
      ++refused;
    } else if (!PhotoStore::PhotoExists(*path)) {
      line += "missing";
      ++missing;
    } else {
      try {
        uint64_t size = 0;
        const JpegHeader header = store.ReadPhotoHeader(*path, &size);
        bool is_damaged = false;
        if (size <= kDecodeLimit) {
          is_damaged = DecodeJpegDetailed(store.ReadWholeFile(*path)).damaged;
        }
        line += (is_damaged ? "damaged " : "present ") + std::to_string(header.width) + "x" +
                std::to_string(header.height) + " " + std::to_string(size);
        ++(is_damaged ? damaged : present);
      } catch (const std::exception&) {
        line += "unreadable";
        ++unreadable;
      }
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  std::printf("present %d, damaged %d, missing %d, unreadable %d, refused-key %d\n", present,
              damaged, missing, unreadable, refused);
  return 0;
}

CommandRegistrar photos({"photos", "photos ROSTER [--program-dir DIR]", RunPhotos});

}  // namespace
}  // namespace mirestal::cli
