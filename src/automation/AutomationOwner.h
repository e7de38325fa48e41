// The main window's side of the automation object: the attached proxy and the close rule.
#pragma once

namespace orvane {

class COrvaneDlgAutoProxy;

// The main window derives from this class. While an automation client holds the program,
// the window's m_pProxy is set and closing the window (close box after the exit question,
// OK, Cancel) only hides it; "E&xit Now" does not ask MayClose and still ends the program.
//
// The contract between the two objects, which never own each other:
// - the proxy, when a client creates it, calls SetProxy(this) on the main window;
// - the proxy, when the client releases it, calls SetProxy(nullptr);
// - this class's destructor clears the proxy's m_pOwner, so a window destroyed first leaves
//   the proxy detached and its later release touches no dead window.
class AutomationOwner {
public:
    AutomationOwner() = default;
    AutomationOwner(const AutomationOwner&) = delete;
    AutomationOwner& operator=(const AutomationOwner&) = delete;
    virtual ~AutomationOwner();

    COrvaneDlgAutoProxy* Proxy() const { return m_pProxy; }
    void SetProxy(COrvaneDlgAutoProxy* proxy);

    // Asked by the close, OK and Cancel paths: false (after hiding the window) while a
    // client holds the program, true otherwise.
    bool MayClose();

protected:
    // Hides the window (and updates it); called by MayClose while a proxy is attached.
    virtual void HideForAutomation() = 0;

private:
    COrvaneDlgAutoProxy* m_pProxy = nullptr;
};

}  // namespace orvane
