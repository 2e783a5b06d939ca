// The photo store: one JPEG file per student in the photo folder beside the program, named after
// the student's trimmed registration number. Whether a student has a photo is decided each time
// by testing whether that file exists; nothing is cached.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "capture/bitmap.h"
#include "capture/jpeg.h"
#include "platform/file.h"

namespace mirestal {

// The photo folder's name inside the program folder.
inline constexpr char kPhotoFolderName[] = "照片";

// Removes characters of code 32 and below from both ends. On GBK text this is safe byte by
// byte: no byte of a double-byte character is below 0x40.
std::string_view TrimKey(std::string_view key);

// Why a key names no photo file (kNone: it does).
enum class KeyRefusal {
  kNone,
  kEmpty,         // empty after trimming
  kDotName,       // "." or ".."
  kBadCharacter,  // \ / : * ? " < > | or a character below 32
  kNotGbk,        // bytes that are not GBK text: two such keys could name the same file
  kReservedName,  // a name Windows cannot hold as a file name: a device name (CON, PRN, AUX,
                  // NUL, COM1-9, LPT1-9, also with an extension) or one ending in a dot
};

// Decides whether a trimmed key value (GBK) may name a photo file. The characters are checked
// after decoding, so the trail byte 0x5C or 0x7C of a double-byte character is no separator.
// Windows' name rules hold on every platform: photo folders are copied between machines, and
// the schools' machines run Windows.
KeyRefusal CheckPhotoKey(std::string_view trimmed_key_gbk);

// The key as it can be shown in a message (UTF-8), control characters shown as U+FFFD.
std::string KeyForMessage(std::string_view key_gbk);

class PhotoStore {
 public:
  // `program_dir` is the folder of the program (UTF-8, ending in '/'); the photo folder is
  // program_dir + "照片/". Production uses the executable's folder, tests a temporary one.
  // `fs` carries the photo writes so that tests can make them fail.
  explicit PhotoStore(std::string program_dir, FileSystem& fs = FileSystem::Default());

  const std::string& program_dir() const { return program_dir_; }
  // program_dir + "照片/".
  std::string PhotoFolder() const;

  // The photo path of a key value (GBK, as read from the roster): photo folder + trimmed key
  // in UTF-8 + ".jpg". nullopt when the key names no photo (CheckPhotoKey): such a student has
  // no photo to show, count, write or delete. Pure text operation.
  std::optional<std::string> PhotoFileName(std::string_view key_gbk) const;

  // True only when a regular file (not a folder) is at `path`.
  static bool PhotoExists(const std::string& path);
  // The folder part of `path` (up to and including its last '/').
  static std::string FolderOf(const std::string& path);
  // Creates the folder part of `path` with its missing parents; true when it exists afterwards.
  static bool EnsurePhotoFolder(const std::string& path);

  // Encodes `picture` (baseline, quality 80 unless told otherwise) in memory, writes it to a new
  // temporary file in the photo's folder (created exclusively under a name no one can predict,
  // never through a link; it starts with ".mirestal-"), flushes it and renames it over `path`.
  // An existing photo, read-only or not, is replaced only once the new one is complete; on any
  // failure the temporary file is removed, the old photo stays, and IoError (or EJpegError)
  // propagates.
  void WritePhoto(const std::string& path, const Bitmap& picture,
                  int quality = kPhotoJpegQuality) const;
  // The same write for a photo that is already encoded (a file kept as it is).
  void WritePhotoBytes(const std::string& path, std::string_view jpeg) const;

  // Reads the whole file and decodes it as far as its data allows (a cut or damaged photo is
  // drawn in part). A zero-length file gives an empty Bitmap. Throws IoError when the file
  // cannot be read and EJpegError when its header does not read.
  Bitmap ReadPhoto(const std::string& path) const;

  // The file's bytes through the store's file system (IoError on failure).
  std::string ReadWholeFile(const std::string& path) const;

  // The JPEG header of the file at `path`, reading only the segments before the picture data
  // (however large the file is); the file's size goes to *size. Throws IoError when the file
  // cannot be read and EJpegError when it does not start like a JPEG file.
  JpegHeader ReadPhotoHeader(const std::string& path, uint64_t* size) const;

 private:
  std::string program_dir_;
  FileSystem& fs_;
};

}  // namespace mirestal
