#include "base/error.h"
#include "base/file_info.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace merovane {
namespace {

std::wstring ProgramPath()
{
    return (test::TestBinaryDir().parent_path() / L"bin" / L"Merovane.exe").wstring();
}

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = ::LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << ToUtf8(ProgramPath());
    }
    void TearDown() override
    {
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
    }

    // Average brightness (0..255) of the opaque pixels of a 32 x 32 icon.
    double Brightness(const wchar_t* name) const
    {
        HICON icon = static_cast<HICON>(::LoadImageW(module, name, IMAGE_ICON, 32, 32, 0));
        EXPECT_NE(icon, nullptr) << ToUtf8(name);
        if (icon == nullptr) {
            return -1;
        }
        ICONINFO info{};
        ::GetIconInfo(icon, &info);
        BITMAPINFO bmi{};
        bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<DWORD> pixels(32 * 32);
        HDC dc = ::GetDC(nullptr);
        const int rows = ::GetDIBits(dc, info.hbmColor, 0, 32, pixels.data(), &bmi, DIB_RGB_COLORS);
        ::ReleaseDC(nullptr, dc);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
        EXPECT_EQ(rows, 32);
        double sum = 0;
        int opaque = 0;
        for (const DWORD p : pixels) {
            if ((p >> 24) > 128) {
                sum += ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) / 3.0;
                ++opaque;
            }
        }
        EXPECT_GT(opaque, 100) << ToUtf8(name);
        return opaque == 0 ? -1 : sum / opaque;
    }

    HMODULE module = nullptr;
};

TEST_F(ProgramResources, VersionResourceCarriesTheBuildVersion)
{
    EXPECT_EQ(GetFileVersionText(ProgramPath()), MEROVANE_EXPECTED_VERSION);
    EXPECT_EQ(GetFileDescription(ProgramPath()), L"Merovane");
    EXPECT_EQ(GetVersionInfoString(ProgramPath(), L"ProductName"), L"Merovane");
    EXPECT_FALSE(GetCompanyName(ProgramPath()).empty());
    EXPECT_FALSE(GetLegalCopyright(ProgramPath()).empty());
}

TEST_F(ProgramResources, ManifestAsksForWhatTheProgramNeeds)
{
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    const std::string manifest(data, ::SizeofResource(module, resource));
    for (const char* needle : {"PerMonitorV2", "level=\"asInvoker\"", "Microsoft.Windows.Common-Controls",
                               "version=\"6.0.0.0\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
}

TEST_F(ProgramResources, TrayImagesHaveTheirTones)
{
    const double dark = Brightness(L"TRAYDARK");
    const double light = Brightness(L"TRAYLIGHT");
    const double colour = Brightness(L"TRAYCOLOR");
    EXPECT_LT(dark, 100);
    EXPECT_GT(light, 180);
    EXPECT_GT(colour, dark);
    EXPECT_NE(::LoadImageW(module, L"MAINICON", IMAGE_ICON, 256, 256, 0), nullptr);
}

} // namespace
} // namespace merovane
