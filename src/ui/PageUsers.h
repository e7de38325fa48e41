// The Users page: the list of users over the page's own copy of the user table.
#pragma once

#include <functional>
#include <memory>

#include "ui/ConfigPages.h"
#include "users/UserRecord.h"

class QDialog;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane {

class CPageUsers final : public CConfigPage {
public:
    explicit CPageUsers(SheetServices services);
    ~CPageUsers() override;

    // The page's working copy; the sheet fills it before the page is shown and reads it on OK.
    UserTable& Table() { return *m_table; }
    QTreeWidget* List() const { return m_list; }

    // Runs a user dialog modally and returns its result; tests answer the dialog instead.
    using DialogRunner = std::function<int(QDialog&)>;
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    void OnNewUser();
    void OnEditUser();
    void OnDeleteUser();
    // The position of the first selected item in display order, or -1.
    int GetFirstSelectedItem() const;

protected:
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* AddItem(int slot);
    QTreeWidgetItem* ItemForSlot(int slot) const;
    static int SlotOf(const QTreeWidgetItem* item);
    static void SetSlot(QTreeWidgetItem* item, int slot);

    std::unique_ptr<UserTable> m_table;
    QTreeWidget* m_list;
    DialogRunner m_runDialog;
};

}  // namespace orvane
