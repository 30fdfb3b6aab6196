// The rules on entry names beyond IsSafeEntryName that decide whether Windows can create every
// entry of a package: UTF-8 that converts, and no two paths that the file system would take
// for one.

#include "tools/yayin/yayin.h"

#include <locale.h>
#include <string.h>
#include <wctype.h>

#include <map>

#include "release/entry_name.h"

namespace {

// The code points of well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF: what a strict conversion to UTF-16 refuses); false for anything else.
bool DecodeUtf8(const std::string &text, std::u32string *code_points)
{
    code_points->clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = (unsigned char)text[i];
        int extra = lead < 0x80 ? 0 : lead >= 0xc2 && lead < 0xe0 ? 1 : lead >= 0xe0 && lead < 0xf0 ? 2
                                  : lead >= 0xf0 && lead < 0xf5 ? 3 : -1;
        if (extra < 0 || text.size() - i <= (size_t)extra)
            return false;
        char32_t value = extra == 0 ? lead : lead & (0x3f >> extra);
        for (int k = 1; k <= extra; k++) {
            unsigned char next = (unsigned char)text[i + k];
            if ((next & 0xc0) != 0x80)
                return false;
            value = value << 6 | (next & 0x3f);
        }
        static const char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[extra] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return false;
        code_points->push_back(value);
        i += (size_t)extra + 1;
    }
    return true;
}

// The path as the file system compares names: letter case does not count.
std::u32string FoldedPath(const std::u32string &code_points)
{
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    std::u32string folded = code_points;
    for (char32_t &c : folded) {
        if (c < 0x80)
            c = (char32_t)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        else if (unicode != (locale_t)0)
            c = (char32_t)towupper_l((wint_t)c, unicode);
    }
    return folded;
}

} // namespace

const char *EntryNameFault(const std::string &name)
{
    if (!IsSafeEntryName(name.data(), name.size()))
        return "girdi adı 1-240 bayt, '/' ile başlamayan ve bitmeyen, denetim karakteri ve \\ : * ? < > | \" "
               "içermeyen, her parçası boş olmayan, \".\" ya da \"..\" olmayan, '.' ya da boşlukla bitmeyen bir yol "
               "olmalı; Windows'ta aygıt adı olan parçalar (CON, PRN, AUX, NUL, COM0-9, COM¹²³, LPT0-9, LPT¹²³, CONIN$, CONOUT$) olamaz";
    std::u32string code_points;
    if (!DecodeUtf8(name, &code_points))
        return "girdi adı geçerli UTF-8 olmalı";
    return nullptr;
}

Status CheckNameCollisions(const std::vector<std::string> &names)
{
    struct Seen {
        const std::string *name; // the entry that brought the path in
        size_t length;           // how much of that entry's name the path is
    };
    // Every file's path and every folder on the way to it, folded, with who brought it in.
    std::map<std::u32string, Seen> paths;
    for (const std::string &name : names) {
        std::u32string code_points;
        DecodeUtf8(name, &code_points);
        std::u32string folded = FoldedPath(code_points);
        size_t byte = 0;
        for (size_t i = 0; i <= folded.size(); i++) {
            if (i < folded.size() && folded[i] != U'/') {
                byte += code_points[i] < 0x80 ? 1 : code_points[i] < 0x800 ? 2 : code_points[i] < 0x10000 ? 3 : 4;
                continue;
            }
            bool is_file = i == folded.size();
            auto inserted = paths.insert({folded.substr(0, i), {&name, byte}});
            const Seen &seen = inserted.first->second;
            // The same folder under one spelling is shared; anything else is one path twice.
            bool shared_folder = !is_file && seen.length < seen.name->size() &&
                                 seen.name->compare(0, seen.length, name, 0, byte) == 0;
            if (!inserted.second && !shared_folder) {
                PrintError("\"%s\" ile \"%s\" Windows'ta aynı yolu gösterir (büyük/küçük harf farkı sayılmaz, bir "
                           "dosya bir klasörün yerini tutamaz)",
                           EscapeText(seen.name->data(), seen.name->size()).c_str(),
                           EscapeText(name.data(), name.size()).c_str());
                return StatusInvalid;
            }
            byte++;
        }
    }
    return StatusOk;
}
