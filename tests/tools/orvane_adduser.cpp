// Test tool: adds one user with every right to the user database of a given program path,
// so that end-to-end scripts can log in without the first-run dialog.
#include <QCoreApplication>
#include <cstdio>

#include "config/FileLocations.h"
#include "platform/MessageBox.h"
#include "users/UserDatabase.h"

namespace {
class StderrMessages final : public orvane::MessageBoxService {
public:
    orvane::MessageAnswer Show(const QString& text, orvane::MessageIcon,
                               orvane::MessageButtons) override {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        failed = true;
        return orvane::MessageAnswer::Ok;
    }
    bool failed = false;
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: orvane_adduser PROGRAM-PATH NAME PASSWORD\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    StderrMessages messages;
    const orvane::FileLocations locations(QString::fromLocal8Bit(argv[1]));
    orvane::UserDatabase database(locations.DataFilePath(), messages);
    orvane::UserTable table;
    database.Load(table);
    if (table.count >= orvane::kMaxUsers) return 1;
    orvane::UserRecord& record = table.records[table.count];
    record = orvane::UserRecord{};
    record.canLogin = record.canUseDos = record.canShutdown = 1;
    orvane::CopyText(record.name, orvane::kNameSize, argv[2], orvane::kNameSize - 1);
    orvane::CopyText(record.password, orvane::kPasswordSize, argv[3], orvane::kPasswordSize - 1);
    ++table.count;
    return database.Save(table) && !messages.failed ? 0 : 1;
}
