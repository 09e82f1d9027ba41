#ifndef VANTOSCOPE_JSONKEYS_H
#define VANTOSCOPE_JSONKEYS_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

namespace Json {

// The first key that one object of a JSON text gives twice, at any depth;
// nothing when every object's keys are distinct. Which of two values such
// a text means is anyone's guess, so readers of files and messages refuse
// it; and Qt 5's parser leaks the first value when it is an array or an
// object, which a stream of such messages would turn into a growing heap.
// A linear scan that needs no valid JSON: it only follows strings and
// brackets, so a text Qt would reject anyway may pass it.
inline std::optional<QString> firstDuplicateKey(const QByteArray &json)
{
    // One entry per open bracket: the keys seen so far in an object, nothing
    // for an array.
    std::vector<std::optional<QSet<QString>>> open;
    std::optional<QString> lastString;
    const char *p = json.constData();
    const char *const end = p + json.size();
    while (p < end) {
        const char c = *p++;
        switch (c) {
        case '"': {
            const char *const start = p;
            bool escaped = false;
            while (p < end && *p != '"') {
                if (*p == '\\') {
                    escaped = true;
                    if (++p == end)
                        break;
                }
                ++p;
            }
            const QByteArray raw(start, int(p - start));
            if (p < end)
                ++p; // the closing quote
            if (!escaped) {
                lastString = QString::fromUtf8(raw);
            } else {
                // Qt decodes the escapes as its parser does for keys; a lone
                // string in an array has no key to repeat.
                const QJsonArray one = QJsonDocument::fromJson("[\"" + raw + "\"]").array();
                lastString = one.isEmpty() ? QString() : one.first().toString();
            }
            continue;
        }
        case ':':
            if (lastString && !open.empty() && open.back()) {
                QSet<QString> &keys = *open.back();
                if (keys.contains(*lastString))
                    return lastString;
                keys.insert(*lastString);
            }
            break;
        case '{':
            open.emplace_back(QSet<QString>());
            break;
        case '[':
            open.emplace_back(std::nullopt);
            break;
        case '}':
        case ']':
            if (!open.empty())
                open.pop_back();
            break;
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            continue; // keeps a string before its colon
        default:
            break;
        }
        lastString.reset();
    }
    return std::nullopt;
}

} // namespace Json

#endif
