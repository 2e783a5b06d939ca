#include "capture/photo_store.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/gbk.h"
#include "platform/text.h"

namespace mirestal {

std::string_view TrimKey(std::string_view key) { return TrimView(key); }

namespace {

bool IsReservedDeviceName(std::string_view name) {
  // Windows treats a device name as the device even with an extension ("CON.jpg") or trailing
  // blanks and dots, in any letter case.
  std::string base;
  for (char c : name.substr(0, name.find('.'))) {
    base.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

KeyRefusal CheckPhotoKey(std::string_view key) {
  if (key.empty()) return KeyRefusal::kEmpty;
  if (key == "." || key == "..") return KeyRefusal::kDotName;
  // Strict round trip: the lenient decoder maps every invalid byte to U+FFFD.
  std::string utf8 = GbkToUtf8(key);
  std::optional<std::string> back = Utf8ToGbk(utf8);
  if (!back || *back != key) return KeyRefusal::kNotGbk;
  // In UTF-8 every byte below 0x80 is the ASCII character itself.
  for (unsigned char c : utf8) {
    if (c < 32) return KeyRefusal::kBadCharacter;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return KeyRefusal::kBadCharacter;
      default:
        break;
    }
  }
  // Windows drops a trailing dot or blank from a file name, so such a key would name another
  // key's photo there.
  if (utf8.back() == '.' || utf8.back() == ' ' || IsReservedDeviceName(utf8)) {
    return KeyRefusal::kReservedName;
  }
  return KeyRefusal::kNone;
}

std::string KeyForMessage(std::string_view key_gbk) {
  std::string utf8 = GbkToUtf8(key_gbk);
  std::string out;
  for (unsigned char c : utf8) {
    if (c < 32 || c == 127) {
      out += "\xEF\xBF\xBD";
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

PhotoStore::PhotoStore(std::string program_dir, FileSystem& fs)
    : program_dir_(std::move(program_dir)), fs_(fs) {
  if (!program_dir_.empty() && program_dir_.back() != '/') program_dir_ += '/';
}

std::string PhotoStore::PhotoFolder() const { return program_dir_ + kPhotoFolderName + "/"; }

std::optional<std::string> PhotoStore::PhotoFileName(std::string_view key_gbk) const {
  std::string_view key = TrimKey(key_gbk);
  if (CheckPhotoKey(key) != KeyRefusal::kNone) return std::nullopt;
  return PhotoFolder() + GbkToUtf8(key) + ".jpg";
}

bool PhotoStore::PhotoExists(const std::string& path) { return FileExists(path); }

std::string PhotoStore::FolderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

bool PhotoStore::EnsurePhotoFolder(const std::string& path) {
  std::string folder = FolderOf(path);
  if (folder.empty() || DirectoryExists(folder)) return true;
  return ForceDirectories(folder);
}

void PhotoStore::WritePhoto(const std::string& path, const Bitmap& picture, int quality) const {
  WritePhotoBytes(path, EncodeJpeg(picture, quality));
}

void PhotoStore::WritePhotoBytes(const std::string& path, std::string_view jpeg) const {
  // The temporary name never ends in ".jpg", so it can never be taken for a student's photo.
  std::string temp;
  std::unique_ptr<File> file = fs_.CreateExclusiveTemp(FolderOf(path), ".mirestal-photo-", &temp);
  try {
    file->WriteAt(0, jpeg.data(), jpeg.size());
    file->Flush();
    file.reset();
    // A read-only photo must still be replaceable (on Windows a rename over it would fail).
    const bool was_read_only = fs_.Exists(path) && fs_.IsReadOnly(path);
    if (was_read_only) fs_.SetReadOnly(path, false);
    try {
      fs_.Rename(temp, path);
    } catch (...) {
      if (was_read_only) {
        try {
          fs_.SetReadOnly(path, true);
        } catch (const IoError&) {
          // The rename's failure is the one to report.
        }
      }
      throw;
    }
  } catch (...) {
    file.reset();
    try {
      fs_.Remove(temp);
    } catch (const IoError&) {
      // The original failure is the one worth reporting.
    }
    throw;
  }
}

std::string PhotoStore::ReadWholeFile(const std::string& path) const {
  std::unique_ptr<File> file = fs_.Open(path, Access::kRead, Share::kReadWrite);
  const uint64_t size = file->Size();
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    size_t got = file->ReadAt(done, bytes.data() + done, bytes.size() - done);
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

namespace {

// No photo of this program has markers before its picture data that come near this; a file
// that claims more is not read into memory.
constexpr uint64_t kMaxJpegHeaderBytes = 16u << 20;

// Offset just past the start-of-scan segment, found by walking the segment lengths (reading 4
// bytes per segment); what is there up to that point when the markers end early or break off,
// so that the header reader names the defect.
uint64_t HeaderEnd(File& file, uint64_t size) {
  unsigned char b[4];
  if (file.ReadAt(0, b, 2) != 2 || b[0] != 0xFF || b[1] != 0xD8) return std::min<uint64_t>(size, 2);
  uint64_t at = 2;
  while (at + 4 <= size && at <= kMaxJpegHeaderBytes) {
    if (file.ReadAt(at, b, 4) != 4 || b[0] != 0xFF) return at;
    const unsigned char marker = b[1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
      at += 2;
      continue;
    }
    if (marker == 0xD9) return at;  // end of image before any picture data
    at += 2 + ((uint64_t{b[2]} << 8) | b[3]);
    if (marker == 0xDA) return std::min(at, size);
  }
  return std::min(at, size);
}

}  // namespace

JpegHeader PhotoStore::ReadPhotoHeader(const std::string& path, uint64_t* size) const {
  std::unique_ptr<File> file = fs_.Open(path, Access::kRead, Share::kReadWrite);
  *size = file->Size();
  const uint64_t end = HeaderEnd(*file, *size);
  if (end > kMaxJpegHeaderBytes) throw EJpegError("JPEG markers too long before the picture data");
  std::string bytes(static_cast<size_t>(end), '\0');
  bytes.resize(file->ReadAt(0, bytes.data(), bytes.size()));
  return ReadJpegHeader(bytes);
}

Bitmap PhotoStore::ReadPhoto(const std::string& path) const {
  std::string bytes = ReadWholeFile(path);
  if (bytes.empty()) return Bitmap();
  return DecodeJpeg(bytes);
}

}  // namespace mirestal
