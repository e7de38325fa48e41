// Fuzzes the settings store: whatever bytes the settings file holds, every option reads
// without a crash, an integer option holding anything but a number reads as its default,
// and a text written through the store reads back exactly.
#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestEnvironment.h"
#include "config/FileLocations.h"
#include "config/SettingsStore.h"

using namespace orvane;

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "settings fuzz: %s\n", what);
    std::abort();
}

QString g_path;
long g_generation = 0;

// Writes the file with a modification time of its own, so that no cache can take this
// input's file for the previous one's (same size, same millisecond).
void WriteSettingsFile(const char* data, std::size_t size) {
    QFile file(g_path);
    Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input");
    Require(file.write(data, qint64(size)) == qint64(size), "cannot write the input");
    file.close();
    const timespec times[2] = {{1000000000L + ++g_generation, 0}, {1000000000L + g_generation, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(g_path).constData(), times, 0);
}

// An independent reading of "a 32-bit decimal number": blanks, a sign, digits, blanks.
bool IsStoredNumber(const QString& text, long long* value) {
    const QByteArray bytes = text.toUtf8();
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (p < end && blank(*p)) ++p;
    while (end > p && blank(end[-1])) --end;
    const char* digits = p;
    if (digits < end && (*digits == '+' || *digits == '-')) ++digits;
    if (digits == end) return false;
    for (const char* d = digits; d < end; ++d) {
        if (*d < '0' || *d > '9') return false;
    }
    const std::string number(p, end);
    errno = 0;
    *value = std::strtoll(number.c_str(), nullptr, 10);
    return errno == 0 && *value >= INT_MIN && *value <= INT_MAX;
}

// The text as UTF-8, or nothing when the bytes are not valid UTF-8.
bool DecodeUtf8(const char* data, std::size_t size, QString* text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(QByteArrayView(data, qsizetype(size)));
    return !decoder.hasError();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    test::IsolateEnvironmentInMemory();
    static QCoreApplication app(*argc, *argv);
    g_path = SettingsStore().FilePath();
    Require(g_path.startsWith(test::IsolatedRoot()), "the store is not the isolated one");
    QDir().mkpath(QFileInfo(g_path).path());
    return 0;
}

/* The first byte n splits the input: the next n bytes are a text to write through the
   store, the rest is the settings file as found on disk. */
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t textSize = std::min<std::size_t>(data[0], size - 1);
    const char* text = reinterpret_cast<const char*>(data + 1);
    const char* file = text + textSize;
    const std::size_t fileSize = size - 1 - textSize;
    WriteSettingsFile(file, fileSize);

    SettingsStore store;
    FileLocations locations(QStringLiteral("/opt/orv/orvane"));
    QSettings raw(g_path, QSettings::IniFormat);
    for (const IntSetting& option : kAllIntSettings) {
        const int value = store.Read(option);
        const QVariant stored = raw.value(QStringLiteral("Settings/") + QLatin1String(option.key));
        if (!stored.isValid()) {
            Require(value == option.defaultValue, "an absent integer is not its default");
        } else if (stored.typeId() == QMetaType::QString) {
            long long number = 0;
            if (IsStoredNumber(stored.toString(), &number)) {
                Require(value == number, "a stored number reads wrong");
            } else {
                Require(value == option.defaultValue, "an integer holding junk is not its default");
            }
        }
    }
    for (const TextSetting& option : kAllTextSettings) {
        const QString value = store.Read(option);
        Require(value.toUtf8().size() >= 0, "unreadable text");
    }
    for (const PathSetting& option : kAllPathSettings) {
        const QString value = store.Read(option, locations);
        Require(value.toUtf8().size() >= 0, "unreadable path");
    }

    QString written;
    if (!DecodeUtf8(text, textSize, &written)) return 0;
    if (!store.WriteProfileString(QStringLiteral("Settings"), QStringLiteral("LoginOK"), written)) {
        return 0;
    }
    Require(store.Read(setting::LoginOK) == written, "a written text reads back changed");
    SettingsStore again;
    Require(again.Read(setting::LoginOK) == written,
            "a written text reads back changed from the file");
    return 0;
}
