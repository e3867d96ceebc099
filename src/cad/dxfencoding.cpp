// The texts of a DXF file: GBK bytes for the Chinese of a drawing made for
// code page 936, \U+XXXX for what GBK lacks.
#include "cad/dxffile.h"

#include <cstring>
#include <iconv.h>
#include <string>

namespace {

// One iconv conversion, opened once per thread.
class Converter
{
public:
    Converter(const char *to, const char *from)
        : m_cd(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts as much of `in` as converts; returns false at the first byte
    // sequence that does not, with `in` left at it.
    bool convert(std::string_view &in, std::string &out)
    {
        if (m_cd == iconv_t(-1))
            return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[256];
        while (!in.empty()) {
            char *source = const_cast<char *>(in.data());
            size_t sourceLeft = in.size();
            char *target = buffer;
            size_t targetLeft = sizeof buffer;
            const size_t result = iconv(m_cd, &source, &sourceLeft, &target, &targetLeft);
            out.append(buffer, size_t(target - buffer));
            in.remove_prefix(in.size() - sourceLeft);
            if (result == size_t(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t m_cd;
};

// The GBK bytes of one character, or nothing when GBK lacks it.
const std::string &gbkBytes(char32_t c)
{
    thread_local std::unordered_map<char32_t, std::string> known;
    thread_local Converter toGbk("GBK", "UTF-32LE");
    const auto found = known.find(c);
    if (found != known.end())
        return found->second;
    const char32_t source[1] = {c};
    std::string_view in(reinterpret_cast<const char *>(source), sizeof source);
    std::string out;
    if (!toGbk.convert(in, out))
        out.clear();
    return known.emplace(c, std::move(out)).first->second;
}

void appendEscape(std::string &out, unsigned code)
{
    char escape[12];
    std::snprintf(escape, sizeof escape, "\\U+%04X", code & 0xFFFFu);
    out += escape;
}

} // namespace

std::string dxfEncoded(const QString &text)
{
    std::string out;
    out.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == '^') {
            out += "^ ";
        } else if (u >= 32 && u < 127) {
            out.push_back(char(u));
        } else if (u < 32 || u == 127) {
            out.push_back(' '); // a control character would break the file's lines
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size()
                   && text[i + 1].isLowSurrogate()) {
            // Beyond the escapes' four digits: both halves escaped.
            appendEscape(out, u);
            appendEscape(out, text[++i].unicode());
        } else if (const std::string &gbk = gbkBytes(u); !gbk.empty()) {
            out += gbk;
        } else {
            appendEscape(out, u);
        }
    }
    return out;
}

QString dxfDecoded(std::string_view bytes, bool gbk)
{
    QString raw;
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 128; })) {
        raw = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    } else if (gbk) {
        thread_local Converter fromGbk("UTF-8", "GBK");
        std::string utf8;
        std::string_view in = bytes;
        while (!fromGbk.convert(in, utf8)) {
            utf8 += "\xEF\xBF\xBD"; // a byte GBK does not know
            in.remove_prefix(1);
        }
        raw = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    } else {
        raw = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    }
    if (!raw.contains(QLatin1Char('\\')) && !raw.contains(QLatin1Char('^')))
        return raw;
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('^') && i + 1 < raw.size() && raw[i + 1] == QLatin1Char(' ')) {
            out += QLatin1Char('^');
            ++i;
            continue;
        }
        if (raw[i] == QLatin1Char('\\') && i + 6 < raw.size()
            && raw.mid(i + 1, 2).compare(QLatin1String("U+"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const ushort code = raw.mid(i + 3, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

QString plainMtext(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar ch = raw[i];
        if (ch == QLatin1Char('{') || ch == QLatin1Char('}'))
            continue;
        if (ch != QLatin1Char('\\') || i + 1 >= raw.size()) {
            out += ch;
            continue;
        }
        const QChar code = raw[++i];
        switch (code.unicode()) {
        case 'P':
        case 'X':
            out += QLatin1Char('\n');
            break;
        case '~':
            out += QLatin1Char(' ');
            break;
        case '\\':
        case '{':
        case '}':
            out += code;
            break;
        case 'L': case 'l': case 'O': case 'o': case 'K': case 'k': case 'N':
            break; // underline, overline, strike-through and column switches
        case 'S': {
            // Stacked text "\Sa^b;" as "a/b".
            const qsizetype end = raw.indexOf(QLatin1Char(';'), i + 1);
            QString stacked = raw.mid(i + 1, end < 0 ? -1 : end - i - 1);
            stacked.replace(QLatin1Char('^'), QLatin1Char('/')).replace(QLatin1Char('#'), QLatin1Char('/'));
            out += stacked;
            i = end < 0 ? raw.size() : end;
            break;
        }
        case 'U':
        case 'M':
            out += QLatin1Char('\\');
            out += code;
            break;
        default: {
            // A code with a value up to ";" (\A1; \H2.5x; \fArial|b0; \C1; …).
            const qsizetype end = raw.indexOf(QLatin1Char(';'), i + 1);
            i = end < 0 ? raw.size() : end;
        }
        }
    }
    return out;
}
