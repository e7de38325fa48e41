// The "Add/Edit User" and "Add Administration Account" dialogs.
#pragma once

#include <QDialog>

#include "users/UserDatabase.h"
#include "users/UserRecord.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace orvane {

// Fills in a new user or changes one; after OK, Record() holds the result.
class CUserDlg final : public QDialog {
public:
    CUserDlg(bool isNewUser, const UserRecord& record, QWidget* parent = nullptr);

    const UserRecord& Record() const { return m_record; }

private:
    void OnInitDialog();
    void OnGreetingCheck();
    void OnOK();

    QCheckBox* m_canShutdown;
    QCheckBox* m_canLogin;
    QCheckBox* m_canUseDos;
    QCheckBox* m_enableGreeting;
    QPlainTextEdit* m_greeting;
    QLineEdit* m_name;
    QLineEdit* m_password;
    bool m_isNewUser;
    UserRecord m_record;
};

// Asks for the first administration account; after OK, Record() holds it with every right.
class CAddAdminDlg final : public QDialog {
public:
    explicit CAddAdminDlg(QWidget* parent = nullptr);

    const UserRecord& Record() const { return m_record; }

private:
    void OnOK();

    QLineEdit* m_name;
    QLineEdit* m_password;
    UserRecord m_record;
};

// The start-up question for an administration account, answered by CAddAdminDlg.
class QtAdminAccountPrompt final : public AdminAccountPrompt {
public:
    explicit QtAdminAccountPrompt(QWidget* owner = nullptr) : m_owner(owner) {}
    bool AskForAdminAccount(UserRecord& record) override;

private:
    QWidget* m_owner;
};

}  // namespace orvane
