#include "ui/fonts.h"

#include "ui/dpi.h"

namespace merovane::ui {

HFONT FontCache::Get(std::wstring_view face, int height, bool bold, bool underline, UINT dpi)
{
    for (const Entry& entry : fonts_) {
        if (entry.face == face && entry.height == height && entry.bold == bold && entry.underline == underline &&
            entry.dpi == dpi) {
            return entry.font.get();
        }
    }
    std::wstring name(face);
    unique_hfont font(::CreateFontW(ScaleToDpi(height, dpi), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                                    underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, name.c_str()));
    HFONT made = font.get();
    fonts_.push_back(Entry{std::move(name), height, bold, underline, dpi, std::move(font)});
    return made;
}

} // namespace merovane::ui
