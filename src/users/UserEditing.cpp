// The Users page's table changes and text cuts.
#include "users/UserEditing.h"

#include <cstring>

namespace orvane {

QByteArray CutUtf8(const QString& text, int maxBytes) {
    return CutUtf8Bytes(text.toUtf8(), maxBytes);
}

QByteArray CutUtf8Bytes(QByteArray bytes, int maxBytes) {
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) bytes.truncate(nul);
    if (bytes.size() <= maxBytes) return bytes;
    qsizetype length = maxBytes;
    // Back off over continuation bytes to the start of the character that does not fit.
    while (length > 0 && (static_cast<unsigned char>(bytes[length]) & 0xC0) == 0x80) --length;
    if (length > 0 && bytes[length - 1] == '\r' && bytes[length] == '\n') --length;
    return bytes.left(length);
}

void SetRecordText(char* field, int fieldSize, const QString& text, int maxBytes) {
    const QByteArray cut = CutUtf8(text, maxBytes);
    CopyText(field, fieldSize, cut.constData(), maxBytes);
}

UserRecord AdminAccountRecord(const QByteArray& name, const QByteArray& password) {
    UserRecord record;
    record.canLogin = 1;
    record.canUseDos = 1;
    record.canShutdown = 1;
    CopyText(record.name, kNameSize, CutUtf8Bytes(name, kAdminTextBytes).constData(),
             kAdminTextBytes);
    CopyText(record.password, kPasswordSize, CutUtf8Bytes(password, kAdminTextBytes).constData(),
             kAdminTextBytes);
    return record;
}

QString RecordText(const char* field, int fieldSize) {
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, fieldSize)));
}

int AppendUser(UserTable& table, const UserRecord& record) {
    if (table.count < 0 || table.count >= kMaxPageUsers) return -1;
    const int slot = table.count;
    table.records[slot] = record;
    ++table.count;
    return slot;
}

int RemoveUser(UserTable& table, int slot) {
    if (slot < 0 || slot >= table.count) return -1;
    const int last = table.count - 1;
    int moved = -1;
    if (slot != last) {
        table.records[slot] = table.records[last];
        moved = last;
    }
    // The emptied slot is zeroed so that nothing of the deleted user stays in the file.
    table.records[last] = UserRecord{};
    --table.count;
    return moved;
}

}  // namespace orvane
