#include "capture/photo_store.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <string>

#include "capture/jpeg.h"
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

KeyRefusal CheckPhotoKey(std::string_view key, bool windows_rules) {
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
  if (windows_rules && IsReservedDeviceName(utf8)) return KeyRefusal::kReservedName;
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
  const std::string jpeg = EncodeJpeg(picture, quality);
  // The temporary name never ends in ".jpg", so it can never be taken for a student's photo,
  // and carries the process id and a counter so that two writers never share it.
  static std::atomic<unsigned> counter{0};
  const std::string temp = FolderOf(path) + ".mirestal-" + std::to_string(::getpid()) + "-" +
                           std::to_string(counter++) + ".tmp";
  try {
    {
      std::unique_ptr<File> file = fs_.Create(temp);
      file->WriteAt(0, jpeg.data(), jpeg.size());
      file->Flush();
    }
    // A read-only photo must still be replaceable (on Windows a rename over it would fail).
    const bool was_read_only = PhotoExists(path) && IsReadOnly(path);
    if (was_read_only) SetReadOnly(path, false);
    try {
      fs_.Rename(temp, path);
    } catch (...) {
      if (was_read_only) SetReadOnly(path, true);
      throw;
    }
  } catch (...) {
    if (PathExists(temp)) {
      try {
        fs_.Remove(temp);
      } catch (const IoError&) {
        // The original failure is the one worth reporting.
      }
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

Bitmap PhotoStore::ReadPhoto(const std::string& path) const {
  std::string bytes = ReadWholeFile(path);
  if (bytes.empty()) return Bitmap();
  return DecodeJpeg(bytes);
}

}  // namespace mirestal
