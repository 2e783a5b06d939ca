#include "capture/face/photo_import.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "capture/face/photo_advice.h"
#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/orientation.h"
#include "platform/gbk.h"
#include "platform/paths.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

// Larger files than any camera's picture are not read.
constexpr uint64_t kMaxPictureBytes = 128u << 20;

struct OutcomeNames {
  std::string_view token;
  std::string_view text;
};
constexpr OutcomeNames kOutcomeNames[kImportOutcomeCount] = {
    {"stored", "已保存"},
    {"has-photo", "已有照片"},
    {"unmatched", "未对应学生"},
    {"no-face", "未检测到人脸"},
    {"several-faces", "多张人脸"},
    {"cannot-frame", "无法取景"},
    {"not-a-picture", "不是图片"},
    {"duplicate", "重复"},
    {"outside-link", "链接到文件夹外"},
    {"failed", "保存失败"},
};

std::string ReadSource(const std::string& path) {
  std::unique_ptr<File> file = FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite);
  const uint64_t size = file->Size();
  if (size > kMaxPictureBytes) {
    throw EStillFrameError("文件过大（" + std::to_string(size >> 20) + " MB）");
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t got = file->ReadAt(done, bytes.data() + done, bytes.size() - done);
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

ImportOutcome OutcomeOf(StillProblem problem) {
  switch (problem) {
    case StillProblem::kNoFace: return ImportOutcome::kNoFace;
    case StillProblem::kSeveralFaces: return ImportOutcome::kSeveralFaces;
    case StillProblem::kTooClose:
    case StillProblem::kTooFar: return ImportOutcome::kCannotFrame;
    case StillProblem::kNotPicture: break;
  }
  return ImportOutcome::kNotPicture;
}

bool Matched(const ImportPicture& p) {
  return p.match.kind == MatchKind::kKey || p.match.kind == MatchKind::kName;
}

ImportOutcome NotStoredOutcome(const ImportPicture& p) {
  return p.duplicate_of >= 0 ? ImportOutcome::kDuplicate : ImportOutcome::kUnmatched;
}

std::string UnmatchedDetail(const ImportPicture& p) {
  switch (p.match.kind) {
    case MatchKind::kAmbiguousName: return "名册中有多名学生叫这个名字";
    case MatchKind::kNotGbk: return "文件名含有名册不能表示的字符";
    default: return "文件名不是名册中的考籍号或姓名";
  }
}

void SetThumbnail(ImportPicture& p, const Bitmap& picture, int height) {
  if (picture.empty()) return;
  const int width = std::max(1, static_cast<int>(static_cast<long long>(picture.width) * height /
                                                 picture.height));
  p.thumbnail = ResizeBitmap(picture, width, height);
}

}  // namespace

std::string_view ImportOutcomeToken(ImportOutcome outcome) {
  return kOutcomeNames[static_cast<int>(outcome)].token;
}

std::string_view ImportOutcomeText(ImportOutcome outcome) {
  return kOutcomeNames[static_cast<int>(outcome)].text;
}

std::vector<ImportPicture> ListPictureFolder(const std::string& folder_text) {
  std::error_code ec;
  const stdfs::path folder = FsPath(folder_text);
  const stdfs::path real_folder = stdfs::canonical(folder, ec);
  if (ec || !stdfs::is_directory(real_folder, ec)) {
    throw IoError(folder_text + ": not a folder that can be listed", IoErrorKind::kNotFound);
  }
  std::string prefix = folder_text;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  std::vector<ImportPicture> out;
  stdfs::directory_iterator it(folder, ec), end;
  if (ec) throw IoError(folder_text + ": " + ec.message(), IoErrorKind::kAccessDenied);
  for (; it != end; it.increment(ec)) {
    if (ec) throw IoError(folder_text + ": " + ec.message(), IoErrorKind::kOther);
    ImportPicture p;
    p.name = Utf8Path(it->path().filename());
    p.path = prefix + p.name;
    const stdfs::file_type type = it->symlink_status(ec).type();
    if (type == stdfs::file_type::directory) continue;
    if (type == stdfs::file_type::symlink) {
      std::error_code link_ec;
      const stdfs::path target = stdfs::canonical(it->path(), link_ec);
      if (!link_ec && stdfs::is_directory(target, link_ec)) continue;
      // Inside: the target's path starts with the folder's real path.
      const auto [f, t] = std::mismatch(real_folder.begin(), real_folder.end(), target.begin(),
                                        target.end());
      p.outside_link = link_ec || f != real_folder.end() || t == target.end();
      p.regular = !p.outside_link && stdfs::is_regular_file(target, link_ec);
    } else {
      p.regular = type == stdfs::file_type::regular;
    }
    out.push_back(std::move(p));
  }
  std::sort(out.begin(), out.end(),
            [](const ImportPicture& a, const ImportPicture& b) { return a.name < b.name; });
  return out;
}

void MarkDuplicates(std::vector<ImportPicture>& pictures) {
  std::vector<PictureMatch> matches;
  for (const ImportPicture& p : pictures) matches.push_back(p.match);
  const std::vector<int> duplicates = DuplicateClaims(matches);
  for (size_t i = 0; i < pictures.size(); ++i) pictures[i].duplicate_of = duplicates[i];
}

void MatchPictures(std::vector<ImportPicture>& pictures, const StudentMatcher& matcher) {
  // A link that is not followed and a file that is not opened claim no one.
  for (ImportPicture& p : pictures) {
    p.match = p.outside_link || !p.regular ? PictureMatch{} : matcher.MatchFileName(p.name);
  }
  MarkDuplicates(pictures);
}

void ProcessPicture(FaceDetector& detector, ImportPicture& p,
                    const std::vector<RosterStudent>& students, const PhotoStore& store,
                    const ImportOptions& options) {
  // What a previous run decided goes; the listing and the match stay (other threads may read
  // the names meanwhile).
  p.outcome = ImportOutcome::kUnmatched;
  p.detail.clear();
  p.width = p.height = 0;
  p.orientation = kOrientationUpright;
  p.framed = p.whole = p.kept_as_is = false;
  p.crop = CropRect{};
  p.advice.clear();
  p.thumbnail = Bitmap();
  p.stored = StoredPhoto{};
  if (p.outside_link) {
    p.outcome = ImportOutcome::kOutsideLink;
    p.detail = "符号链接指向文件夹以外，未读取";
    return;
  }
  if (!p.regular) {
    p.outcome = ImportOutcome::kNotPicture;
    p.detail = "不是普通文件";
    return;
  }
  const bool storable = Matched(p) && p.duplicate_of < 0;
  std::optional<std::string> photo_path;
  bool has_photo = false;
  if (storable) {
    const RosterStudent& student = students.at(static_cast<size_t>(p.match.student));
    photo_path = store.PhotoFileName(student.key_gbk);
    if (photo_path && !options.replace) {
      has_photo = PhotoStore::PhotoExists(*photo_path) &&
                  CheckPhotoFile(*photo_path, PhotoRules{options.max_bytes}).valid();
    }
  }

  std::string bytes;
  try {
    bytes = ReadSource(p.path);
  } catch (const IoError& e) {
    p.outcome = ImportOutcome::kNotPicture;
    p.detail = "无法读取：" + e.reason();
    return;
  } catch (const EStillFrameError& e) {
    p.outcome = ImportOutcome::kNotPicture;
    p.detail = e.what();
    return;
  }
  if (!LooksLikePicture(bytes)) {
    p.outcome = ImportOutcome::kNotPicture;
    p.detail = "不是 JPEG、PNG 或 BMP 图片";
    return;
  }
  if (!storable && !options.frame_all) {
    p.outcome = NotStoredOutcome(p);
    if (p.outcome == ImportOutcome::kUnmatched) p.detail = UnmatchedDetail(p);
    return;
  }
  if (has_photo && !options.frame_all) {
    p.outcome = ImportOutcome::kHasPhoto;
    return;
  }

  StillFrame framed;
  try {
    framed = FrameStillPicture(detector, bytes, false);
  } catch (const EStillFrameError& e) {
    p.outcome = OutcomeOf(e.problem());
    p.detail = e.what();
    if (options.thumbnail_height > 0 && p.outcome != ImportOutcome::kNotPicture) {
      // The list still shows what the picture is: from a decode at the smallest scale.
      try {
        SetThumbnail(p, OrientUpright(ReadPicture(bytes, 8), JpegExifOrientation(bytes)),
                     options.thumbnail_height);
      } catch (const EStillFrameError&) {
      }
    }
    return;
  }
  p.width = framed.picture_width;
  p.height = framed.picture_height;
  p.orientation = framed.orientation;
  p.framed = true;
  p.crop = framed.framing.crop;
  p.whole = framed.whole;
  if (framed.framing.shifted) p.detail = "取景框已移入图片内，人脸不在正中";
  if (options.thumbnail_height > 0) SetThumbnail(p, framed.searched, options.thumbnail_height);
  if (options.advise) p.advice = PhotoStandardAdvice(detector, framed.photo);
  framed.searched = Bitmap();

  if (!storable) {
    p.outcome = NotStoredOutcome(p);
    if (p.outcome == ImportOutcome::kUnmatched) p.detail = UnmatchedDetail(p);
    return;
  }
  if (has_photo) {
    p.outcome = ImportOutcome::kHasPhoto;
    return;
  }
  if (!photo_path) {
    const RosterStudent& student = students.at(static_cast<size_t>(p.match.student));
    p.outcome = ImportOutcome::kFailed;
    p.detail = KeyRefusalText(CheckPhotoKey(TrimKey(student.key_gbk)));
    return;
  }
  // A picture that is already a photo of the standard and passes every upload rule is stored
  // as it is; anything else is the framed photo, encoded as the capture button does.
  const bool keep = framed.whole && framed.orientation == kOrientationUpright &&
                    bytes.size() <= options.max_bytes && bytes.starts_with("\xFF\xD8") &&
                    CheckPhotoBytes(bytes, PhotoRules{options.max_bytes}).valid();
  p.outcome = ImportOutcome::kStored;
  p.kept_as_is = keep;
  if (!options.store) return;
  try {
    if (!PhotoStore::EnsurePhotoFolder(*photo_path)) {
      throw IoError(PhotoStore::FolderOf(*photo_path) + ": the photo folder cannot be created",
                    IoErrorKind::kAccessDenied);
    }
    p.stored = keep ? StoreCheckedPhotoBytes(store, *photo_path, bytes)
                    : StoreCheckedPhoto(store, *photo_path, framed.photo, options.max_bytes);
  } catch (const IoError& e) {
    p.outcome = ImportOutcome::kFailed;
    p.detail = e.reason();
  } catch (const std::exception& e) {  // EJpegError, EPhotoCheckError
    p.outcome = ImportOutcome::kFailed;
    p.detail = e.what();
  }
}

int ImportPictures(std::vector<ImportPicture>& pictures, const std::vector<RosterStudent>& students,
                   const PhotoStore& store, const ImportOptions& options,
                   const std::vector<int>& indices, const std::function<void(int)>& done) {
  std::vector<int> order = indices;
  if (order.empty()) {
    for (int i = 0; i < static_cast<int>(pictures.size()); ++i) order.push_back(i);
  }
  std::atomic<size_t> next{0};
  std::atomic<int> processed{0};
  std::mutex done_mutex;
  const auto work = [&] {
    FaceDetector detector;
    for (size_t k; (k = next.fetch_add(1)) < order.size();) {
      ImportPicture& p = pictures.at(static_cast<size_t>(order[k]));
      try {
        ProcessPicture(detector, p, students, store, options);
      } catch (const std::exception& e) {  // out of memory: this picture fails, the rest go on
        p.outcome = ImportOutcome::kFailed;
        p.detail = e.what();
      }
      ++processed;
      if (done) {
        const std::lock_guard<std::mutex> lock(done_mutex);
        done(order[k]);
      }
    }
  };
  int threads = options.threads > 0 ? options.threads
                                     : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, std::max(1, static_cast<int>(order.size())));
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {  // no more threads: the ones running do the rest
      break;
    }
  }
  work();
  for (std::thread& t : workers) t.join();
  return processed.load();
}

std::vector<int> CountOutcomes(const std::vector<ImportPicture>& pictures) {
  std::vector<int> counts(kImportOutcomeCount, 0);
  for (const ImportPicture& p : pictures) ++counts[static_cast<int>(p.outcome)];
  return counts;
}

PictureMatch AssignStudent(std::vector<ImportPicture>& pictures, int index, std::string_view text,
                           const StudentMatcher& matcher) {
  ImportPicture& p = pictures.at(static_cast<size_t>(index));
  p.match = matcher.MatchText(text);
  MarkDuplicates(pictures);
  return p.match;
}

std::string StudentText(const ImportPicture& p, const std::vector<RosterStudent>& students) {
  if (p.match.student < 0) return "";
  const RosterStudent& s = students.at(static_cast<size_t>(p.match.student));
  std::string text = KeyForMessage(TrimKey(s.key_gbk));
  const std::string name = GbkToUtf8(TrimKey(s.name_gbk));
  if (!name.empty()) text += " " + name;
  return text;
}

std::string CropText(const ImportPicture& p) {
  if (!p.framed) return "";
  const auto size = [](int w, int h) { return std::to_string(w) + "x" + std::to_string(h); };
  if (p.whole) return "整张 " + size(p.width, p.height);
  return std::to_string(p.crop.x) + "," + std::to_string(p.crop.y) + " " +
         size(p.crop.w, p.crop.h) + " / " + size(p.width, p.height);
}

std::string OutcomeText(const ImportPicture& p, const std::vector<ImportPicture>& pictures,
                        bool done) {
  std::string text = !done && p.outcome == ImportOutcome::kStored
                         ? std::string("将保存")
                         : std::string(ImportOutcomeText(p.outcome));
  const auto add = [&](const std::string& part) {
    if (!part.empty() && part != text) text += "；" + part;
  };
  if (p.duplicate_of >= 0 && p.outcome == ImportOutcome::kDuplicate) {
    add("与 " + pictures.at(static_cast<size_t>(p.duplicate_of)).name + " 是同一名学生");
  }
  add(p.detail);
  if (p.kept_as_is) add("原文件已符合标准，原样保存");
  for (const std::string& a : p.advice) add(a);
  return text;
}

std::string ImportSummaryText(const std::vector<ImportPicture>& pictures) {
  const std::vector<int> counts = CountOutcomes(pictures);
  std::string text = "共 " + std::to_string(pictures.size()) + " 张图片";
  std::string parts;
  for (int i = 0; i < kImportOutcomeCount; ++i) {
    if (counts[static_cast<size_t>(i)] == 0) continue;
    parts += (parts.empty() ? "：" : "，") +
             std::string(ImportOutcomeText(static_cast<ImportOutcome>(i))) + " " +
             std::to_string(counts[static_cast<size_t>(i)]) + " 张";
  }
  return text + parts;
}

}  // namespace mirestal
