#include "capture/photo_check.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>
#include <unordered_map>

#include "capture/jpeg.h"
#include "platform/gbk.h"
#include "platform/paths.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

std::string KbText(uint64_t bytes) {
  // One decimal, rounded up so that a file just over the limit never reads as the limit.
  const uint64_t tenths = (bytes * 10 + 1023) / 1024;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " KB";
}

std::string LimitText(uint64_t bytes) {
  return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KB" : KbText(bytes);
}

// ASCII letters folded; the bytes of other UTF-8 characters are all >= 0x80 and stay.
std::string FoldAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The student key a folder entry would belong to if letter case and surrounding blanks did not
// count: "  2011ab01 .JPG " -> "2011ab01". Empty when the name does not end in .jpg that way.
std::string LooseStem(std::string_view name) {
  std::string folded = FoldAscii(TrimKey(name));
  if (folded.size() <= 4 || !folded.ends_with(".jpg")) return "";
  return std::string(TrimKey(std::string_view(folded).substr(0, folded.size() - 4)));
}

// Reads and checks one entry whose type is known from the listing.
PhotoFileCheck CheckEntry(stdfs::file_type type, const std::string& path, const PhotoRules& rules,
                          const std::function<std::string(const std::string&)>& read) {
  PhotoFileCheck check;
  if (type == stdfs::file_type::symlink) {
    check.defects.push_back(PhotoDefect::kLink);
    std::error_code ec;
    const stdfs::path target = stdfs::read_symlink(FsPath(path), ec);
    if (!ec) check.detail = Utf8Path(target);
    return check;
  }
  if (type == stdfs::file_type::directory) {
    check.defects.push_back(PhotoDefect::kFolder);
    return check;
  }
  if (type != stdfs::file_type::regular) {
    check.defects.push_back(PhotoDefect::kNotRegularFile);
    return check;
  }
  std::error_code ec;
  const uintmax_t size = stdfs::file_size(FsPath(path), ec);
  if (ec) {
    check.defects.push_back(PhotoDefect::kUnreadable);
    check.detail = ec.message();
    return check;
  }
  check.bytes = size;
  if (!rules.decode || size > kMaxReadPhotoBytes) {
    if (size == 0) check.defects.push_back(PhotoDefect::kEmpty);
    if (size > rules.max_bytes) check.defects.push_back(PhotoDefect::kOverLimit);
    return check;
  }
  std::string bytes;
  try {
    bytes = read(path);
  } catch (const IoError& e) {
    check.defects.push_back(PhotoDefect::kUnreadable);
    check.detail = e.what();
    return check;
  }
  return CheckPhotoBytes(bytes, rules);
}

stdfs::file_type EntryType(const std::string& path) {
  std::error_code ec;
  return stdfs::symlink_status(FsPath(path), ec).type();
}

}  // namespace

bool PhotoFileCheck::Has(PhotoDefect d) const {
  return std::find(defects.begin(), defects.end(), d) != defects.end();
}

bool IsThreeByFour(int width, int height) {
  // |w - 3h/4| <= 1 or |h - 4w/3| <= 1, in integers.
  const long long diff = std::llabs(4LL * width - 3LL * height);
  return width > 0 && height > 0 && diff <= 4;
}

PhotoFileCheck CheckPhotoBytes(std::string_view bytes, const PhotoRules& rules) {
  PhotoFileCheck check;
  check.bytes = bytes.size();
  if (bytes.empty()) {
    check.defects.push_back(PhotoDefect::kEmpty);
    return check;
  }
  if (check.bytes > rules.max_bytes) check.defects.push_back(PhotoDefect::kOverLimit);
  JpegHeader header;
  try {
    header = ReadJpegHeader(bytes);
  } catch (const EJpegTooLarge& e) {
    check.defects.push_back(PhotoDefect::kHugeHeader);
    check.detail = e.what();
    return check;
  } catch (const EJpegError& e) {
    check.defects.push_back(PhotoDefect::kNotJpeg);
    check.detail = e.what();
    return check;
  }
  check.width = header.width;
  check.height = header.height;
  check.progressive = header.progressive;
  check.colour = header.components == 1   ? PhotoColour::kGreyscale
                 : header.components == 4 ? PhotoColour::kCmyk
                 : header.components == 3 ? PhotoColour::kColour
                                          : PhotoColour::kUnknown;
  if (check.colour == PhotoColour::kGreyscale) check.defects.push_back(PhotoDefect::kGreyscale);
  if (check.colour == PhotoColour::kCmyk) check.defects.push_back(PhotoDefect::kCmyk);
  if (header.progressive) check.defects.push_back(PhotoDefect::kProgressive);
  if (!IsThreeByFour(header.width, header.height)) check.defects.push_back(PhotoDefect::kRatio);
  // The decoder draws what it can of damaged data; a damaged flag or an error both fail the
  // photo.
  if (rules.decode) {
    try {
      const DecodedJpeg decoded = DecodeJpegDetailed(bytes);
      if (decoded.damaged) {
        check.defects.push_back(PhotoDefect::kDamaged);
        check.detail = decoded.problem;
      } else if (rules.advise) {
        check.advice = rules.advise(decoded.bitmap);
      }
    } catch (const EJpegError& e) {
      check.defects.push_back(PhotoDefect::kDamaged);
      check.detail = e.what();
    }
  }
  return check;
}

PhotoFileCheck CheckPhotoFile(const std::string& path, const PhotoRules& rules, FileSystem& fs) {
  return CheckEntry(EntryType(path), path, rules, [&fs](const std::string& p) {
    return PhotoStore(PhotoStore::FolderOf(p), fs).ReadWholeFile(p);
  });
}

std::string PhotoDefectText(PhotoDefect defect, const PhotoFileCheck& check,
                            const PhotoRules& rules) {
  const std::string size = std::to_string(check.width) + "x" + std::to_string(check.height);
  switch (defect) {
    case PhotoDefect::kEmpty:
      return "空文件（0 字节）";
    case PhotoDefect::kNotJpeg:
      return "不是 JPEG 照片或文件头已损坏";
    case PhotoDefect::kHugeHeader:
      return "文件头声称的图像过大（" + size + "）";
    case PhotoDefect::kDamaged:
      return "照片数据损坏或不完整，无法完整解码";
    case PhotoDefect::kCmyk:
      return "CMYK 四色照片，须为 RGB 彩色";
    case PhotoDefect::kGreyscale:
      return "灰度照片，须为彩色";
    case PhotoDefect::kProgressive:
      return "渐进式 JPEG，须为基线（baseline）";
    case PhotoDefect::kRatio:
      return "宽高比不是 3:4（" + size + "）";
    case PhotoDefect::kOverLimit:
      return "文件 " + KbText(check.bytes) + "，超过 " + LimitText(rules.max_bytes);
    case PhotoDefect::kFolder:
      return "是文件夹，不是照片文件";
    case PhotoDefect::kLink:
      return check.detail.empty() ? "是链接，不是照片文件（不跟随）"
                                  : "是指向 " + check.detail + " 的链接，不是照片文件（不跟随）";
    case PhotoDefect::kNotRegularFile:
      return "不是普通文件";
    case PhotoDefect::kUnreadable:
      return "无法读取";
  }
  return "";
}

std::string KeyRefusalText(KeyRefusal refusal) {
  switch (refusal) {
    case KeyRefusal::kNone:
      return "";
    case KeyRefusal::kEmpty:
      return "考籍号为空";
    case KeyRefusal::kDotName:
      return "考籍号为 . 或 ..";
    case KeyRefusal::kBadCharacter:
      return "考籍号含有不能用于文件名的字符";
    case KeyRefusal::kNotGbk:
      return "考籍号不是有效的 GBK 文字";
    case KeyRefusal::kReservedName:
      return "考籍号是 Windows 设备名";
  }
  return "";
}

std::string PhotoDefectsText(const PhotoFileCheck& check, const PhotoRules& rules) {
  std::string out;
  for (PhotoDefect d : check.defects) {
    if (!out.empty()) out += "；";
    out += PhotoDefectText(d, check, rules);
  }
  if (!check.detail.empty() && !check.Has(PhotoDefect::kLink)) out += " (" + check.detail + ")";
  return out;
}

bool RosterPhotoCheck::AllGood() const {
  return folder_exists && valid == static_cast<int>(students.size()) && duplicates == 0 &&
         strays.empty();
}

bool IsPhotoTempFileName(std::string_view name) {
  // The prefix alone: the store's temporary names carry a process id and a counter or a random
  // suffix after it, and no photo name starts with a dot and that word.
  return name.starts_with(".mirestal-");
}

RosterPhotoCheck CheckRosterPhotos(const std::vector<RosterStudent>& students,
                                   const PhotoStore& store, const PhotoRules& rules,
                                   const std::function<void(int, int)>& progress) {
  RosterPhotoCheck out;
  out.folder = store.PhotoFolder();

  // One listing: name -> type. The types come from the directory entries, so no link is
  // followed and nothing is opened here.
  struct Entry {
    stdfs::file_type type;
    bool claimed = false;
  };
  std::unordered_map<std::string, Entry> entries;
  std::error_code ec;
  out.folder_exists = stdfs::is_directory(FsPath(out.folder), ec);
  if (out.folder_exists) {
    for (stdfs::directory_iterator it(FsPath(out.folder), ec), end; !ec && it != end; it.increment(ec)) {
      stdfs::file_type type = it->symlink_status(ec).type();
      if (ec) type = stdfs::file_type::unknown;
      entries.emplace(Utf8Path(it->path().filename()), Entry{type});
    }
  }

  const auto read = [&store](const std::string& path) { return store.ReadWholeFile(path); };
  std::unordered_map<std::string, int> by_name;   // exact photo name -> first student
  std::unordered_map<std::string, int> by_loose;  // folded key -> first student
  out.students.reserve(students.size());
  const int total = static_cast<int>(students.size());
  for (const RosterStudent& s : students) {
    const int index = static_cast<int>(out.students.size());
    if (progress) progress(index, total);
    StudentPhoto& r = out.students.emplace_back();
    r.student = s;
    const std::string_view key = TrimKey(s.key_gbk);
    r.refusal = CheckPhotoKey(key);
    if (r.refusal != KeyRefusal::kNone) {
      r.state = StudentPhotoState::kRefusedKey;
      ++out.refused;
      continue;
    }
    const std::string key_utf8 = GbkToUtf8(key);
    r.file_name = key_utf8 + ".jpg";
    auto [first, inserted] = by_name.emplace(r.file_name, index);
    if (!inserted) {
      r.duplicate_of = first->second;
      ++out.duplicates;
    }
    by_loose.emplace(FoldAscii(key_utf8), index);
    auto entry = entries.find(r.file_name);
    if (entry == entries.end()) {
      r.state = StudentPhotoState::kMissing;
      ++out.missing;
      continue;
    }
    entry->second.claimed = true;
    if (!inserted) {
      // The same file as the earlier student: not read twice.
      r.check = out.students[static_cast<size_t>(first->second)].check;
    } else {
      r.check = CheckEntry(entry->second.type, out.folder + r.file_name, rules, read);
    }
    if (r.check.valid()) {
      r.state = StudentPhotoState::kValid;
      ++out.valid;
    } else {
      r.state = StudentPhotoState::kInvalid;
      ++out.invalid;
    }
  }
  if (progress) progress(total, total);

  for (const auto& [name, entry] : entries) {
    if (entry.claimed) continue;
    StrayEntry stray;
    stray.name = name;
    stray.folder = entry.type == stdfs::file_type::directory;
    if (IsPhotoTempFileName(name) && !stray.folder) {
      stray.kind = StrayKind::kTempFile;
    } else if (auto loose = by_loose.find(LooseStem(name)); loose != by_loose.end()) {
      stray.kind = StrayKind::kNearMatch;
      stray.student = loose->second;
    }
    out.strays.push_back(std::move(stray));
  }
  std::sort(out.strays.begin(), out.strays.end(),
            [](const StrayEntry& a, const StrayEntry& b) { return a.name < b.name; });
  return out;
}

StoredPhoto StoreCheckedPhoto(const PhotoStore& store, const std::string& path,
                              const Bitmap& picture, uint64_t max_bytes) {
  StoredPhoto stored;
  for (stored.quality = kPhotoJpegQuality;; stored.quality -= kQualityStep) {
    stored.bytes = EncodeJpeg(picture, stored.quality).size();
    if (stored.bytes <= max_bytes) break;
    if (stored.quality - kQualityStep < kMinPhotoQuality) {
      stored.over_limit = true;
      break;
    }
  }
  store.WritePhoto(path, picture, stored.quality);

  // What is on the disk now must be the photo just written: the right size, decoding completely
  // to the picture's dimensions.
  std::string back;
  try {
    back = store.ReadWholeFile(path);
  } catch (const IoError& e) {
    throw EPhotoCheckError("the photo written cannot be read back: " + std::string(e.what()));
  }
  if (back.size() != stored.bytes) {
    throw EPhotoCheckError("the photo read back has " + std::to_string(back.size()) +
                           " bytes instead of " + std::to_string(stored.bytes));
  }
  try {
    const DecodedJpeg decoded = DecodeJpegDetailed(back);
    if (decoded.damaged) {
      throw EPhotoCheckError("the photo read back does not decode: " + decoded.problem);
    }
    if (decoded.bitmap.width != picture.width || decoded.bitmap.height != picture.height) {
      throw EPhotoCheckError("the photo read back is " + std::to_string(decoded.bitmap.width) +
                             "x" + std::to_string(decoded.bitmap.height));
    }
  } catch (const EJpegError& e) {
    throw EPhotoCheckError("the photo read back does not decode: " + std::string(e.what()));
  }
  return stored;
}

StoredPhoto StoreCheckedPhotoBytes(const PhotoStore& store, const std::string& path,
                                   std::string_view jpeg) {
  store.WritePhotoBytes(path, jpeg);
  std::string back;
  try {
    back = store.ReadWholeFile(path);
  } catch (const IoError& e) {
    throw EPhotoCheckError("the photo written cannot be read back: " + std::string(e.what()));
  }
  if (back != jpeg) throw EPhotoCheckError("the photo read back differs from the one written");
  StoredPhoto stored;
  stored.quality = 0;  // not encoded here
  stored.bytes = jpeg.size();
  return stored;
}

std::string StoredPhotoStatus(const StoredPhoto& stored, uint64_t max_bytes) {
  if (stored.quality == kPhotoJpegQuality) return "";
  std::string text = "照片按 " + std::to_string(kPhotoJpegQuality) + " 的质量超过 " +
                     LimitText(max_bytes) + "，已降低到质量 " + std::to_string(stored.quality) +
                     " 保存（" + KbText(stored.bytes) + "）";
  if (stored.over_limit) text += "，仍超过上限";
  return text;
}

PhotoCheckCache::Result PhotoCheckCache::Check(const std::string& path, FileSystem& fs) {
  const std::optional<FileStamp> stamp = RegularFileStamp(path);
  if (!stamp) {
    entries_.erase(path);
    return Result::kNoFile;
  }
  auto it = entries_.find(path);
  if (it == entries_.end() || it->second.stamp != *stamp) {
    it = entries_.insert_or_assign(path, Entry{*stamp, CheckPhotoFile(path, rules_, fs).valid()}).first;
  }
  return it->second.valid ? Result::kValid : Result::kInvalid;
}

}  // namespace mirestal
