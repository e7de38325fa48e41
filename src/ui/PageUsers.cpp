// The Users page. Each list item's data is its record's slot, which the page keeps true
// through every change; the list sorts itself, so positions and slots differ.
#include "ui/PageUsers.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/OperatorTexts.h"
#include "app/OrvaneApp.h"
#include "platform/MessageBox.h"
#include "ui/ControlIds.h"
#include "ui/PageControls.h"
#include "ui/UserDialogs.h"
#include "users/UserEditing.h"
#include "users/UserMatching.h"

// The resources live in a static library, so they are registered by hand before first use.
static void InitUserIconResource() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(orvane);
        return true;
    }();
    (void)registered;
}

namespace orvane {

namespace {

const QString kNameTaken = QString::fromLatin1(kNameTakenText);

// Sorted by name ignoring case, as the operator reads a list of names.
class UserItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int folded = text(0).compare(other.text(0), Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : text(0) < other.text(0);
    }
};

}  // namespace

CPageUsers::CPageUsers(SheetServices services)
    : CConfigPage(QStringLiteral("Users"), services),
      m_table(std::make_unique<UserTable>()),
      m_list(new QTreeWidget(this)),
      m_runDialog([](QDialog& dialog) { return dialog.exec(); }) {
    InitUserIconResource();
    m_list->setObjectName(QLatin1String(control::users::kList));
    m_list->setColumnCount(1);
    m_list->setHeaderLabels({QStringLiteral("User")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(16, 16));
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(0, Qt::AscendingOrder);
    // A double click anywhere in the list, on an item or not, edits the selected user.
    m_list->viewport()->installEventFilter(this);

    auto* newButton = MakeButton(QStringLiteral("New.."), control::users::kNew, this);
    auto* editButton = MakeButton(QStringLiteral("Edit"), control::users::kEdit, this);
    auto* deleteButton = MakeButton(QStringLiteral("Delete"), control::users::kDelete, this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(newButton);
    buttons->addWidget(editButton);
    buttons->addWidget(deleteButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(newButton, &QPushButton::clicked, this, [this] { OnNewUser(); });
    connect(editButton, &QPushButton::clicked, this, [this] { OnEditUser(); });
    connect(deleteButton, &QPushButton::clicked, this, [this] { OnDeleteUser(); });
}

CPageUsers::~CPageUsers() = default;

void CPageUsers::OnInitDialog() {
    m_list->clear();
    // A count beyond the table's slots can only come from a damaged file; show what fits.
    if (m_table->count < 0 || m_table->count > kMaxUsers) {
        m_table->count = m_table->count < 0 ? 0 : kMaxUsers;
    }
    for (int slot = 0; slot < m_table->count; ++slot) AddItem(slot);
}

bool CPageUsers::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        OnEditUser();
        return true;
    }
    return CConfigPage::eventFilter(watched, event);
}

int CPageUsers::SlotOf(const QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole).toInt();
}

void CPageUsers::SetSlot(QTreeWidgetItem* item, int slot) {
    item->setData(0, Qt::UserRole, slot);
}

QTreeWidgetItem* CPageUsers::AddItem(int slot) {
    auto* item = new UserItem;
    item->setText(0, RecordText(m_table->records[slot].name, kNameSize));
    item->setIcon(0, QIcon(QStringLiteral(":/icons/user.png")));
    SetSlot(item, slot);
    m_list->addTopLevelItem(item);
    return item;
}

QTreeWidgetItem* CPageUsers::ItemForSlot(int slot) const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (SlotOf(m_list->topLevelItem(i)) == slot) return m_list->topLevelItem(i);
    }
    return nullptr;
}

int CPageUsers::GetFirstSelectedItem() const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->isSelected()) return i;
    }
    return -1;
}

void CPageUsers::OnNewUser() {
    if (m_table->count >= kMaxPageUsers) {
        m_services.messages.Show(QString::fromLatin1(kTooManyUsersText), MessageIcon::Stop);
        return;
    }
    CUserDlg dialog(true, UserRecord{}, this);
    if (m_runDialog(dialog) != QDialog::Accepted) return;
    if (NameExists(*m_table, dialog.Record().name, -1)) {
        m_services.messages.Show(kNameTaken, MessageIcon::Stop);
        return;
    }
    const int slot = AppendUser(*m_table, dialog.Record());
    if (slot >= 0) AddItem(slot);
}

void CPageUsers::OnEditUser() {
    const int position = GetFirstSelectedItem();
    if (position < 0) return;
    QTreeWidgetItem* item = m_list->topLevelItem(position);
    const int slot = SlotOf(item);
    if (slot < 0 || slot >= m_table->count) return;
    CUserDlg dialog(false, m_table->records[slot], this);
    if (m_runDialog(dialog) != QDialog::Accepted) return;
    if (NameExists(*m_table, dialog.Record().name, slot)) {
        m_services.messages.Show(kNameTaken, MessageIcon::Stop);
        return;
    }
    m_table->records[slot] = dialog.Record();
    // The list shows the name as it is now, also after a rename.
    item->setText(0, RecordText(m_table->records[slot].name, kNameSize));
    m_list->sortItems(0, Qt::AscendingOrder);
}

void CPageUsers::OnDeleteUser() {
    const int position = GetFirstSelectedItem();
    if (position < 0) return;
    QTreeWidgetItem* item = m_list->topLevelItem(position);
    const int slot = SlotOf(item);
    if (slot < 0 || slot >= m_table->count) return;
    const QString question = QString::fromLatin1(kDeleteUserFormat)
                                 .arg(RecordText(m_table->records[slot].name, kNameSize));
    if (m_services.messages.Show(question, MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return;
    }
    delete m_list->takeTopLevelItem(position);
    const int movedFrom = RemoveUser(*m_table, slot);
    if (movedFrom >= 0) {
        if (QTreeWidgetItem* moved = ItemForSlot(movedFrom)) SetSlot(moved, slot);
    }
}

}  // namespace orvane
