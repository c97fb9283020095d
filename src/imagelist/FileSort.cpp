#include "imagelist/FileSort.h"

#include <algorithm>
#include <cwctype>
#include <locale.h>

#include "platform/system/MacRoman.h"
#include "platform/picture/Metadata.h"

namespace mv {
namespace {

char32_t fold(char32_t c)
{
    // Full-width ASCII forms and the ideographic space.
    if (c >= 0xFF01 && c <= 0xFF5E)
        c -= 0xFF01 - 0x21;
    else if (c == 0x3000)
        c = 0x20;
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return utf8 ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8)) : c;
}

std::u32string decode(const std::string& s)
{
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();)
        out += nextCodePoint(s, i);
    return out;
}

bool isDigit(char32_t c) { return c >= '0' && c <= '9'; }

int sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

} // namespace

int alphaCompare(const std::string& a, const std::string& b)
{
    const std::u32string x = decode(a), y = decode(b);
    std::u32string fx(x.size(), 0), fy(y.size(), 0);
    std::transform(x.begin(), x.end(), fx.begin(), fold);
    std::transform(y.begin(), y.end(), fy.begin(), fold);

    std::size_t i = 0, j = 0;
    while (i < fx.size() && j < fy.size()) {
        if (isDigit(fx[i]) && isDigit(fy[j])) {
            std::size_t ei = i, ej = j;
            while (ei < fx.size() && isDigit(fx[ei]))
                ++ei;
            while (ej < fy.size() && isDigit(fy[ej]))
                ++ej;
            std::size_t si = i, sj = j; // skip leading zeros
            while (si + 1 < ei && fx[si] == '0')
                ++si;
            while (sj + 1 < ej && fy[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return sign(static_cast<long long>(ei - si) - static_cast<long long>(ej - sj));
            for (; si < ei; ++si, ++sj)
                if (fx[si] != fy[sj])
                    return fx[si] < fy[sj] ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (fx[i] != fy[j])
            return fx[i] < fy[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < fx.size() || j < fy.size())
        return i < fx.size() ? 1 : -1;
    // Equal for the user; ordered by the literal characters.
    return x.compare(y) < 0 ? -1 : x.compare(y) > 0 ? 1 : 0;
}

void alphaSort(std::vector<std::string>& paths)
{
    std::stable_sort(paths.begin(), paths.end(),
                     [](const std::string& a, const std::string& b) { return alphaCompare(a, b) < 0; });
}

void dateSort(std::vector<std::string>& paths)
{
    struct Entry {
        std::string path;
        CaptureDate date;
        timespec created;
    };
    std::vector<Entry> entries;
    entries.reserve(paths.size());
    for (auto& p : paths)
        entries.push_back({p, readCaptureDate(p), fileCreationTime(p)});

    auto byCreation = [](const Entry& a, const Entry& b) {
        return a.created.tv_sec != b.created.tv_sec ? a.created.tv_sec < b.created.tv_sec
                                                    : a.created.tv_nsec < b.created.tv_nsec;
    };
    // The comparison need not be a strict weak order (it mixes two keys), so
    // only a merge sort, which never reads outside the range, is used.
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (!a.date.text)
            return byCreation(a, b);
        if (!b.date.opened)
            return false;
        if (!b.date.text)
            return byCreation(a, b);
        return alphaCompare(*a.date.text, *b.date.text) < 0;
    });
    for (std::size_t k = 0; k < entries.size(); ++k)
        paths[k] = std::move(entries[k].path);
}

} // namespace mv
