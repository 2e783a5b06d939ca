#include "capture/photo_package.h"

#include <zip.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>

#include "platform/paths.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

// Owns an archive that is being written. Without Close() the archive is discarded: nothing of
// it reaches the disk (libzip writes everything at close).
struct ZipDiscarder {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscarder>;

// A libzip data source that reads one photo through the FileSystem when libzip writes it, so
// that thousands of photos are never held in memory together. Opening refuses a file that is no
// longer a regular file of the size the check saw.
class PhotoSource {
 public:
  PhotoSource(FileSystem& fs, std::string path, uint64_t size)
      : fs_(fs), path_(std::move(path)), size_(size) {
    zip_error_init(&error_);
  }
  ~PhotoSource() { zip_error_fini(&error_); }

  static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<PhotoSource*>(user)->Command(data, len, cmd);
  }

 private:
  zip_int64_t Fail(int zip_code, int system_code) {
    zip_error_set(&error_, zip_code, system_code);
    return -1;
  }

  zip_int64_t Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN: {
        std::error_code ec;
        if (stdfs::symlink_status(FsPath(path_), ec).type() != stdfs::file_type::regular) {
          return Fail(ZIP_ER_CHANGED, 0);
        }
        try {
          file_ = fs_.Open(path_, Access::kRead, Share::kReadWrite);
          if (file_->Size() != size_) return Fail(ZIP_ER_CHANGED, 0);
        } catch (const IoError& e) {
          return Fail(ZIP_ER_OPEN, e.code());
        }
        offset_ = 0;
        return 0;
      }
      case ZIP_SOURCE_READ: {
        try {
          const size_t got = file_->ReadAt(offset_, data, static_cast<size_t>(len));
          offset_ += got;
          if (got == 0 && offset_ < size_) return Fail(ZIP_ER_CHANGED, 0);
          return static_cast<zip_int64_t>(got);
        } catch (const IoError& e) {
          return Fail(ZIP_ER_READ, e.code());
        }
      }
      case ZIP_SOURCE_CLOSE:
        file_.reset();
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = size_;
        st->valid |= ZIP_STAT_SIZE;
        std::error_code ec;
        const auto written = stdfs::last_write_time(FsPath(path_), ec);
        if (!ec) {
          st->mtime =
              std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
          st->valid |= ZIP_STAT_MTIME;
        }
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_FREE:
        delete this;
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      default:
        return Fail(ZIP_ER_OPNOTSUPP, 0);
    }
  }

  FileSystem& fs_;
  std::string path_;
  uint64_t size_;
  std::unique_ptr<File> file_;
  uint64_t offset_ = 0;
  zip_error_t error_;
};

std::string ArchiveError(const std::string& zip_path, zip_t* archive) {
  return "cannot write " + zip_path + ": " + zip_strerror(archive);
}

}  // namespace

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  std::error_code ec;
  const stdfs::path p = stdfs::weakly_canonical(stdfs::absolute(FsPath(path), ec), ec);
  const stdfs::path f = stdfs::weakly_canonical(stdfs::absolute(FsPath(folder), ec), ec);
  auto pi = p.begin();
  for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
    if (fi->empty()) continue;  // the empty last element of a path ending in '/'
    if (pi == p.end() || *pi != *fi) return false;
  }
  return true;
}

PackageResult WritePhotoPackage(const RosterPhotoCheck& check, const std::string& zip_path,
                                const std::vector<bool>* selected, FileSystem& fs,
                                const std::function<void(double)>& progress) {
  const auto packaged = [&](size_t i) {
    return check.students[i].state == StudentPhotoState::kValid &&
           (selected == nullptr || (i < selected->size() && (*selected)[i]));
  };
  if (IsInsideFolder(zip_path, check.folder)) {
    throw EPackageError("cannot write " + zip_path +
                        ": the package may not be inside the photo folder " + check.folder);
  }
  std::error_code ec;
  if (stdfs::is_directory(FsPath(zip_path), ec)) {
    throw EPackageError("cannot write " + zip_path + ": it is a folder");
  }
  // libzip creates its temporary file in the target's folder; a folder without write
  // permission (root included) is refused here with a plain reason.
  const stdfs::path parent = stdfs::absolute(FsPath(zip_path), ec).parent_path();
  if (!stdfs::is_directory(parent, ec)) {
    throw EPackageError("cannot write " + zip_path + ": the folder " + Utf8Path(parent) +
                        " does not exist");
  }
  if (IsReadOnly(Utf8Path(parent))) {
    throw EPackageError("cannot write " + zip_path + ": the folder " + Utf8Path(parent) +
                        " is read-only");
  }
  bool any = false;
  for (size_t i = 0; i < check.students.size() && !any; ++i) any = packaged(i);
  if (!any) {
    throw EPackageError("cannot write " + zip_path + ": no valid photo to package");
  }

  int zip_code = 0;
  ZipHandle archive(zip_open(zip_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &zip_code));
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, zip_code);
    const std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw EPackageError("cannot write " + zip_path + ": " + text);
  }

  PackageResult result;
  std::unordered_set<std::string> added;
  for (size_t i = 0; i < check.students.size(); ++i) {
    const StudentPhoto& s = check.students[i];
    if (!packaged(i) || !added.insert(s.file_name).second) continue;
    auto* photo = new PhotoSource(fs, check.folder + s.file_name, s.check.bytes);
    zip_source_t* source = zip_source_function(archive.get(), PhotoSource::Callback, photo);
    if (source == nullptr) {
      delete photo;
      throw EPackageError(ArchiveError(zip_path, archive.get()));
    }
    const zip_int64_t index =
        zip_file_add(archive.get(), s.file_name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      throw EPackageError(ArchiveError(zip_path, archive.get()));
    }
    if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE,
                                 0) != 0) {
      throw EPackageError(ArchiveError(zip_path, archive.get()));
    }
    ++result.photos;
    result.bytes += s.check.bytes;
  }
  if (progress) {
    zip_register_progress_callback_with_state(
        archive.get(), 0.01,
        [](zip_t*, double share, void* state) {
          (*static_cast<const std::function<void(double)>*>(state))(share);
        },
        nullptr, const_cast<std::function<void(double)>*>(&progress));
  }
  // libzip writes a temporary file beside the target and renames it over the target only when
  // everything was written; on failure it removes the temporary file.
  if (zip_close(archive.get()) != 0) {
    throw EPackageError(ArchiveError(zip_path, archive.get()));
  }
  archive.release();
  return result;
}

}  // namespace mirestal
