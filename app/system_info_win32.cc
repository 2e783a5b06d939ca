// The about box's system information on Windows: physical memory from GlobalMemoryStatusEx, the
// number of processors and their type from GetSystemInfo, the type's full name from the
// processor's registry description when the system has one.
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "app/info_windows.h"

namespace mirestal {
namespace {

// "ProcessorNameString" of the first processor (e.g. "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz"),
// as UTF-8 without the padding some processors put in front; empty when it cannot be read.
std::string ProcessorName() {
  wchar_t name[256] = {};
  DWORD size = sizeof name;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     L"ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring_view text(name);
  while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n,
                        nullptr, nullptr);
  return utf8;
}

// The processor family that GetSystemInfo reports.
std::string ProcessorFamily(const SYSTEM_INFO& si) {
  switch (si.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return "x64";
    case PROCESSOR_ARCHITECTURE_ARM64: return "ARM64";
    case PROCESSOR_ARCHITECTURE_INTEL:
      switch (si.dwProcessorType) {
        case PROCESSOR_INTEL_386: return "Intel 386";
        case PROCESSOR_INTEL_486: return "Intel 486";
        default: return "Intel Pentium";
      }
    default: return {};
  }
}

}  // namespace

SystemInfo ReadSystemInfo() {
  SystemInfo info;
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  if (::GlobalMemoryStatusEx(&memory)) {
    info.memory_kb = static_cast<long long>(memory.ullTotalPhys / 1024);
  }
  SYSTEM_INFO si{};
  ::GetNativeSystemInfo(&si);
  info.processors = static_cast<int>(si.dwNumberOfProcessors);
  info.processor_type = ProcessorName();
  if (info.processor_type.empty()) info.processor_type = ProcessorFamily(si);
  if (info.processor_type.empty()) info.processor_type = "Unknown processor";
  return info;
}

}  // namespace mirestal
