// The user commands: each change is checked, then made on a freshly loaded table under the
// exclusive lock, and saved through the same database code the window uses.
#include "app/UserCommands.h"

#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "app/CommandLine.h"
#include "app/OperatorTexts.h"
#include "config/PageFields.h"
#include "platform/ConsoleMessageBox.h"
#include "platform/InstanceLock.h"
#include "platform/TerminalInput.h"
#include "users/DatabaseTexts.h"
#include "users/PasswordRule.h"
#include "users/UserDatabase.h"
#include "users/UserEditing.h"
#include "users/UserMatching.h"

namespace orvane {

namespace {

// What a change did to the table it was given.
enum class Change { Refused, Unchanged, Changed };

// The database's own messages, on the error stream, each once although a change loads the
// file twice; remembers whether anything went wrong, for the list's exit status. A file that
// cannot be read is the database's business: it keeps it aside before it saves.
class CommandMessages final : public MessageBoxService {
public:
    explicit CommandMessages(std::FILE* err) : m_console(err) {}
    MessageAnswer Show(const QString& text, MessageIcon icon, MessageButtons buttons) override {
        if (icon != MessageIcon::Information) m_troubled = true;
        if (m_shown.contains(text)) return MessageAnswer::Ok;
        m_shown << text;
        return m_console.Show(text, icon, buttons);
    }
    bool Troubled() const { return m_troubled; }

private:
    ConsoleMessageBox m_console;
    QStringList m_shown;
    bool m_troubled = false;
};

bool HasControlCharacter(const QByteArray& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool IsUtf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Control bytes of a listed name are shown as \xHH, so a name cannot steer the terminal.
QString Printable(const char* field, int size) {
    const QByteArray bytes(field, static_cast<qsizetype>(strnlen(field, size)));
    QByteArray shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    return QString::fromUtf8(shown);
}

QString Rights(const UserRecord& record) {
    QStringList words;
    if (record.canLogin) words << QStringLiteral("login");
    if (record.canUseDos) words << QStringLiteral("dos");
    if (record.canShutdown) words << QStringLiteral("shutdown");
    if (record.greeting[0] != '\0') words << QStringLiteral("greeting");
    return words.isEmpty() ? QStringLiteral("-") : words.join(QStringLiteral(", "));
}

int FindUser(const UserTable& table, const QByteArray& name) {
    const int used = std::clamp(table.count, 0, kMaxUsers);
    for (int i = 0; i < used; ++i) {
        if (EqualsIgnoringAsciiCase(table.records[i].name, name.constData())) return i;
    }
    return -1;
}

class UserCommandRun final {
public:
    UserCommandRun(const QString& databasePath, const UserCommandStreams& streams)
        : m_databasePath(databasePath), m_streams(streams), m_messages(streams.err) {}

    int Run(const CommandLine& command) {
        switch (command.action) {
            case CommandAction::ListUsers:
                return ListUsers();
            case CommandAction::AddUser:
                return AddUser(command);
            case CommandAction::SetPassword:
                return SetPassword(command.userName.toUtf8());
            case CommandAction::DeleteUser:
                return DeleteUser(command.userName.toUtf8());
            default:
                return kExitUsage;
        }
    }

private:
    void Say(std::FILE* stream, const QString& text) {
        const QByteArray line = text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stream);
        std::fflush(stream);
    }
    int Fail(const QString& text) {
        Say(m_streams.err, text);
        return kExitFailed;
    }
    static QString TooLong(const char* what, int limit) {
        return QString::fromUtf8(kTooLongFormat).arg(QLatin1String(what)).arg(limit);
    }

    int ListUsers() {
        auto table = std::make_unique<UserTable>();
        UserDatabase database(m_databasePath, m_messages);
        database.Load(*table);
        const int used = std::clamp(table->count, 0, kMaxUsers);
        if (used == 0) {
            Say(m_streams.out, QString::fromLatin1(kNoUsersText));
            return m_messages.Troubled() ? kExitFailed : kExitOk;
        }
        QStringList names;
        qsizetype width = 0;
        for (int i = 0; i < used; ++i) {
            names << Printable(table->records[i].name, kNameSize);
            width = std::max(width, names.back().size());
        }
        for (int i = 0; i < used; ++i)
            Say(m_streams.out, names[i].leftJustified(width + 2) + Rights(table->records[i]));
        return kExitOk;
    }

    // The checks every command makes of the name it is given.
    std::optional<QString> NameProblem(const QByteArray& name) {
        if (name.isEmpty()) return QString::fromLatin1(kEmptyNameText);
        if (name.size() > kNameLimit) return TooLong("user name", kNameLimit);
        if (HasControlCharacter(name)) return QString::fromLatin1(kNameControlText);
        return std::nullopt;
    }

    int AddUser(const CommandLine& command) {
        const QByteArray name = command.userName.toUtf8();
        const QByteArray greeting = ToStoredLineBreaks(command.greeting).toUtf8();
        if (auto problem = NameProblem(name)) return Fail(*problem);
        if (greeting.size() > kGreetingLimit) return Fail(TooLong("greeting", kGreetingLimit));

        auto check = [&](UserTable& table) {
            if (table.count >= kMaxUsers) {
                Say(m_streams.err, QString::fromLatin1(kTooManyUsersText));
                return Change::Refused;
            }
            if (NameExists(table, name.constData(), -1)) {
                Say(m_streams.err, QString::fromLatin1(kNameTakenText));
                return Change::Refused;
            }
            return Change::Unchanged;
        };
        // Checked before the password is asked for, and again on the table that is saved.
        if (const int status = WithTable(check); status != kExitOk) return status;
        QByteArray password;
        if (!ReadNewPassword(password)) return kExitFailed;
        const int status = WithTable([&](UserTable& table) {
            if (check(table) == Change::Refused) return Change::Refused;
            UserRecord& record = table.records[table.count];
            record = UserRecord{};
            record.canLogin = 1;
            record.canUseDos = command.canUseDos ? 1 : 0;
            record.canShutdown = command.canShutdown ? 1 : 0;
            CopyText(record.name, kNameSize, name.constData(), kNameLimit);
            CopyText(record.password, kPasswordSize, password.constData(), kPasswordLimit);
            CopyText(record.greeting, kGreetingSize, greeting.constData(), kGreetingLimit);
            ++table.count;
            return Change::Changed;
        });
        if (status == kExitOk)
            Say(m_streams.out, QString::fromLatin1(kAddedFormat).arg(command.userName));
        return status;
    }

    int SetPassword(const QByteArray& name) {
        QString storedName;
        auto find = [&](UserTable& table) {
            const int slot = FindUser(table, name);
            if (slot < 0) {
                Say(m_streams.err,
                    QString::fromUtf8(kNoSuchUserFormat).arg(QString::fromUtf8(name)));
                return -1;
            }
            storedName = QString::fromUtf8(table.records[slot].name);
            return slot;
        };
        if (const int status = WithTable([&](UserTable& table) {
                return find(table) < 0 ? Change::Refused : Change::Unchanged;
            });
            status != kExitOk)
            return status;
        QByteArray password;
        if (!ReadNewPassword(password)) return kExitFailed;
        const int status = WithTable([&](UserTable& table) {
            const int slot = find(table);
            if (slot < 0) return Change::Refused;
            CopyText(table.records[slot].password, kPasswordSize, password.constData(),
                     kPasswordLimit);
            return Change::Changed;
        });
        if (status == kExitOk)
            Say(m_streams.out, QString::fromUtf8(kPasswordSetFormat).arg(storedName));
        return status;
    }

    int DeleteUser(const QByteArray& name) {
        QString storedName;
        bool nobodyLeft = false;
        const int status = WithTable([&](UserTable& table) {
            const int slot = FindUser(table, name);
            if (slot < 0) {
                Say(m_streams.err,
                    QString::fromUtf8(kNoSuchUserFormat).arg(QString::fromUtf8(name)));
                return Change::Refused;
            }
            storedName = QString::fromUtf8(table.records[slot].name);
            RemoveUser(table, slot);
            nobodyLeft = table.count == 0;
            return Change::Changed;
        });
        if (status != kExitOk) return status;
        Say(m_streams.out, QString::fromUtf8(kDeletedFormat).arg(storedName));
        if (nobodyLeft) Say(m_streams.err, QString::fromLatin1(kNoUsersText));
        return kExitOk;
    }

    // Loads the table under the exclusive lock, hands it to the change and saves it when it
    // was changed. A running server, a lock that cannot be taken or a failed save end the
    // command with status 1.
    int WithTable(const std::function<Change(UserTable&)>& change) {
        InstanceLock lock(InstanceLock::PathFor(m_databasePath));
        switch (lock.Take(InstanceLock::Kind::Exclusive)) {
            case InstanceLock::Result::Held:
                break;
            case InstanceLock::Result::Busy:
                return Fail(QString::fromUtf8(kServerRunningText));
            case InstanceLock::Result::Failed:
                return Fail(QString::fromUtf8(kLockFailedFormat)
                                .arg(lock.Path(), QString::fromLocal8Bit(strerror(lock.Error()))));
        }
        auto table = std::make_unique<UserTable>();
        UserDatabase database(m_databasePath, m_messages);
        database.Load(*table);
        switch (change(*table)) {
            case Change::Refused:
                return kExitFailed;
            case Change::Unchanged:
                return kExitOk;
            case Change::Changed:
                return database.Save(*table) ? kExitOk : kExitFailed;
        }
        return kExitFailed;
    }

    // One line from standard input, or on a terminal the password typed twice without
    // echo, asked again after an empty or mistyped one.
    bool ReadNewPassword(QByteArray& password) {
        const bool terminal = ::isatty(m_streams.input) != 0;
        for (int attempt = 0; attempt < (terminal ? kPasswordAttempts : 1); ++attempt) {
            if (terminal) Prompt(kPasswordPrompt);
            const LineRead read = terminal ? ReadLineWithoutEcho(m_streams.input, password)
                                           : ReadInputLine(m_streams.input, password);
            if (read == LineRead::EndOfInput) {
                Fail(QString::fromLatin1(kNoPasswordText));
                return false;
            }
            if (const char* refusal = PasswordRefusal(password.constData())) {
                Say(m_streams.err, QString::fromLatin1(refusal));
                continue;
            }
            if (password.size() > kPasswordLimit) {
                Say(m_streams.err, TooLong("password", kPasswordLimit));
                continue;
            }
            if (!IsUtf8(password) || password.contains('\0')) {
                Say(m_streams.err, QString::fromLatin1(kNotUtf8Text));
                continue;
            }
            if (!terminal) return true;
            QByteArray again;
            Prompt(kRetypePrompt);
            if (ReadLineWithoutEcho(m_streams.input, again) == LineRead::EndOfInput) {
                Fail(QString::fromLatin1(kNoPasswordText));
                return false;
            }
            if (again == password) return true;
            Say(m_streams.err, QString::fromLatin1(kPasswordsDifferText));
        }
        password.fill('\0');
        return false;
    }

    void Prompt(const char* text) {
        std::fputs(text, m_streams.err);
        std::fflush(m_streams.err);
    }

    QString m_databasePath;
    UserCommandStreams m_streams;
    CommandMessages m_messages;
};

}  // namespace

int RunUserCommand(const CommandLine& command, const QString& databasePath,
                   const UserCommandStreams& streams) {
    UserCommandRun run(databasePath, streams);
    return run.Run(command);
}

}  // namespace orvane
