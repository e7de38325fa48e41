// The main window's side of the automation object.
#include "automation/AutomationOwner.h"

#include "automation/COrvaneDlgAutoProxy.h"

namespace orvane {

AutomationOwner::~AutomationOwner() {
    if (m_pProxy) m_pProxy->ClearOwner();
}

void AutomationOwner::SetProxy(COrvaneDlgAutoProxy* proxy) {
    m_pProxy = proxy;
}

bool AutomationOwner::MayClose() {
    if (!m_pProxy) return true;
    HideForAutomation();
    return false;
}

}  // namespace orvane
