#include "base/file_stamp.h"

#include "base/handles.h"

namespace merovane {

std::optional<FileStamp> ReadFileStamp(const std::wstring& path) noexcept
{
    BY_HANDLE_FILE_INFORMATION data{};
    const unique_file file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::GetFileInformationByHandle(file.get(), &data)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return FileStamp{};
        }
        return std::nullopt;
    }
    return FileStamp{.exists = true,
                     .written = data.ftLastWriteTime,
                     .size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                     .index = (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow,
                     .volume = data.dwVolumeSerialNumber};
}

} // namespace merovane
