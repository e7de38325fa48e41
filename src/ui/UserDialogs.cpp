// The user dialogs. Texts are cut to their record fields when OK reads them, as UTF-8.
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/PageFields.h"
#include "ui/ControlIds.h"
#include "ui/PageControls.h"
#include "users/PasswordRule.h"
#include "users/UserEditing.h"

namespace orvane {

namespace {

constexpr int kUserDlgNameBytes = 127;
constexpr int kUserDlgPasswordBytes = 127;
constexpr int kGreetingBytes = 498;

QGroupBox* MakeLoginGroup(QLineEdit* name, QLineEdit* password, QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Login"), parent);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("User Name : "), name);
    form->addRow(QStringLiteral("Password :"), password);
    // Shown under the password when OK is refused for it; the dialog stays open.
    auto* refusal = new QLabel(group);
    refusal->setObjectName(QLatin1String(control::user::kPasswordRefusal));
    refusal->setVisible(false);
    form->addRow(refusal);
    return group;
}

// True when the password may be stored; otherwise the reason is shown and the password
// field takes the focus again.
bool PasswordAccepted(QDialog* dialog, QLineEdit* password, bool canLogin) {
    const char* refusal = PasswordRefusal(password->text().toUtf8().constData(), canLogin);
    if (!refusal) return true;
    auto* label = dialog->findChild<QLabel*>(QLatin1String(control::user::kPasswordRefusal));
    label->setText(QString::fromLatin1(refusal));
    label->setVisible(true);
    password->setFocus();
    return false;
}

// "OK" (default, 1) and "Cancel" (2), right-aligned.
QHBoxLayout* MakeOkCancel(QDialog* dialog, const std::function<void()>& onOk) {
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QLatin1String(control::kOk));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    cancel->setObjectName(QLatin1String(control::kCancel));
    cancel->setAutoDefault(false);
    QObject::connect(ok, &QPushButton::clicked, dialog, onOk);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

}  // namespace

// ---- Add/Edit User ----

CUserDlg::CUserDlg(bool isNewUser, const UserRecord& record, QWidget* parent)
    : QDialog(parent),
      m_canShutdown(MakeCheckBox(QStringLiteral("Can shutdown and reboot machine"),
                                 control::user::kCanShutdown, this)),
      m_canLogin(MakeCheckBox(QStringLiteral("Can login"), control::user::kCanLogin, this)),
      m_canUseDos(
          MakeCheckBox(QStringLiteral("Can access DOS prompt"), control::user::kCanUseDos, this)),
      m_enableGreeting(MakeCheckBox(QStringLiteral("Enable custom greeting message"),
                                    control::user::kCustomGreeting, this)),
      m_greeting(new QPlainTextEdit(this)),
      m_name(MakeLineEdit(control::user::kName, this)),
      m_password(MakeLineEdit(control::user::kPassword, this, true)),
      m_isNewUser(isNewUser),
      m_record(record) {
    setWindowTitle(QStringLiteral("Add/Edit User"));
    m_greeting->setObjectName(QLatin1String(control::user::kGreeting));
    m_greeting->setTabChangesFocus(true);
    m_greeting->setMinimumHeight(m_greeting->fontMetrics().lineSpacing() * 4);

    auto* rights = new QGroupBox(QStringLiteral("Priveleges"), this);
    auto* rightsLayout = new QVBoxLayout(rights);
    rightsLayout->addWidget(m_canLogin);
    rightsLayout->addWidget(m_canUseDos);
    rightsLayout->addWidget(m_canShutdown);

    auto* misc = new QGroupBox(QStringLiteral("Misc"), this);
    auto* miscLayout = new QVBoxLayout(misc);
    miscLayout->addWidget(m_enableGreeting);
    miscLayout->addWidget(m_greeting);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeLoginGroup(m_name, m_password, this));
    layout->addWidget(rights);
    layout->addWidget(misc);
    layout->addWidget(
        new QLabel(QStringLiteral("Changes take place the next time the user logs in."), this));
    layout->addLayout(MakeOkCancel(this, [this] { OnOK(); }));

    connect(m_enableGreeting, &QCheckBox::clicked, this, [this] { OnGreetingCheck(); });
    OnInitDialog();
}

void CUserDlg::OnInitDialog() {
    if (m_isNewUser) {
        m_canLogin->setChecked(true);
        m_canUseDos->setChecked(true);
        m_canShutdown->setChecked(true);
        m_enableGreeting->setChecked(false);
        m_greeting->setEnabled(false);
    } else {
        m_canLogin->setChecked(m_record.canLogin != 0);
        m_canUseDos->setChecked(m_record.canUseDos != 0);
        m_canShutdown->setChecked(m_record.canShutdown != 0);
        m_name->setText(RecordText(m_record.name, kNameSize));
        m_password->setText(RecordText(m_record.password, kPasswordSize));
        const bool hasGreeting = m_record.greeting[0] != '\0';
        m_enableGreeting->setChecked(hasGreeting);
        m_greeting->setEnabled(hasGreeting);
        if (hasGreeting) {
            m_greeting->setPlainText(
                ToEditLineBreaks(RecordText(m_record.greeting, kGreetingSize)));
        }
    }
    m_name->setFocus();
}

void CUserDlg::OnGreetingCheck() {
    m_greeting->setEnabled(m_enableGreeting->isChecked());
}

void CUserDlg::OnOK() {
    if (!PasswordAccepted(this, m_password, m_canLogin->isChecked())) return;
    m_record.canUseDos = m_canUseDos->isChecked() ? 1 : 0;
    m_record.canShutdown = m_canShutdown->isChecked() ? 1 : 0;
    m_record.canLogin = m_canLogin->isChecked() ? 1 : 0;
    SetRecordText(m_record.name, kNameSize, m_name->text(), kUserDlgNameBytes);
    SetRecordText(m_record.password, kPasswordSize, m_password->text(), kUserDlgPasswordBytes);
    // Greetings go to the client as typed, so their line breaks are stored as CR LF.
    const QString greeting =
        m_enableGreeting->isChecked() ? ToStoredLineBreaks(m_greeting->toPlainText()) : QString();
    SetRecordText(m_record.greeting, kGreetingSize, greeting, kGreetingBytes);
    accept();
}

// ---- Add Administration Account ----

CAddAdminDlg::CAddAdminDlg(QWidget* parent)
    : QDialog(parent),
      m_name(MakeLineEdit(control::user::kName, this)),
      m_password(MakeLineEdit(control::user::kPassword, this, true)) {
    setWindowTitle(QStringLiteral("Add Administration Account"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("You should add an administration account.\nType the password below."),
        this));
    layout->addWidget(MakeLoginGroup(m_name, m_password, this));
    layout->addLayout(MakeOkCancel(this, [this] { OnOK(); }));

    m_name->setText(QStringLiteral("Administrator"));
    m_password->setFocus();
}

void CAddAdminDlg::OnOK() {
    if (!PasswordAccepted(this, m_password, true)) return;
    m_record = AdminAccountRecord(m_name->text().toUtf8(), m_password->text().toUtf8());
    accept();
}

bool QtAdminAccountPrompt::AskForAdminAccount(UserRecord& record) {
    CAddAdminDlg dialog(m_owner);
    if (dialog.exec() != QDialog::Accepted) return false;
    record = dialog.Record();
    return true;
}

}  // namespace orvane
