/* Calls every UI Automation slot the inspector uses through Wine's own C declaration of
 * the interfaces (its uiautomationclient.h, linked into the build tree at configure time),
 * so that a slot of our hand-written declaration that is off by one lands in the wrong
 * method of the test's recorders. C, because the C vtables are what name each slot. */
#include <initguid.h>
#include <windows.h>
#include <ole2.h>
#include <uiautomationclient.h>

#include "wine_uia_calls.h"

void WineUiaCallEverySlot(void* automation, void* element, void* cache, void* walker, void* handler) {
    IUIAutomation* a = (IUIAutomation*)automation;
    IUIAutomationElement* e = (IUIAutomationElement*)element;
    IUIAutomationCacheRequest* c = (IUIAutomationCacheRequest*)cache;
    IUIAutomationTreeWalker* w = (IUIAutomationTreeWalker*)walker;
    IUIAutomationFocusChangedEventHandler* h = (IUIAutomationFocusChangedEventHandler*)handler;
    VARIANT v;
    int i;
    BSTR b;
    BOOL flag;
    RECT r;
    IUIAutomationElement* found;
    IUIAutomationTreeWalker* walkerOut;
    IUIAutomationCacheRequest* cacheOut;
    POINT point = {12, 34};
    UIA_HWND window = (UIA_HWND)(INT_PTR)0x5678;

    e->lpVtbl->GetCurrentPropertyValue(e, UIA_ValueValuePropertyId, &v);
    e->lpVtbl->GetCachedPropertyValue(e, UIA_ValueValuePropertyId, &v);
    e->lpVtbl->get_CurrentProcessId(e, &i);
    e->lpVtbl->get_CurrentControlType(e, &i);
    e->lpVtbl->get_CurrentName(e, &b);
    e->lpVtbl->get_CurrentIsEnabled(e, &flag);
    e->lpVtbl->get_CurrentAutomationId(e, &b);
    e->lpVtbl->get_CurrentClassName(e, &b);
    e->lpVtbl->get_CurrentIsPassword(e, &flag);
    e->lpVtbl->get_CurrentIsOffscreen(e, &flag);
    e->lpVtbl->get_CurrentBoundingRectangle(e, &r);
    e->lpVtbl->get_CachedControlType(e, &i);
    e->lpVtbl->get_CachedName(e, &b);
    e->lpVtbl->get_CachedIsEnabled(e, &flag);
    e->lpVtbl->get_CachedAutomationId(e, &b);
    e->lpVtbl->get_CachedIsPassword(e, &flag);
    e->lpVtbl->get_CachedIsOffscreen(e, &flag);
    e->lpVtbl->get_CachedBoundingRectangle(e, &r);

    c->lpVtbl->AddProperty(c, UIA_NamePropertyId);

    w->lpVtbl->GetParentElement(w, e, &found);
    w->lpVtbl->GetFirstChildElement(w, e, &found);
    w->lpVtbl->GetNextSiblingElement(w, e, &found);
    w->lpVtbl->GetFirstChildElementBuildCache(w, e, c, &found);
    w->lpVtbl->GetNextSiblingElementBuildCache(w, e, c, &found);

    a->lpVtbl->ElementFromHandle(a, window, &found);
    a->lpVtbl->ElementFromPoint(a, point, &found);
    a->lpVtbl->ElementFromHandleBuildCache(a, window, c, &found);
    a->lpVtbl->get_ControlViewWalker(a, &walkerOut);
    a->lpVtbl->CreateCacheRequest(a, &cacheOut);
    a->lpVtbl->AddFocusChangedEventHandler(a, c, h);
    a->lpVtbl->RemoveFocusChangedEventHandler(a, h);

    h->lpVtbl->HandleFocusChangedEvent(h, e);
}

void WineUiaIds(GUID* clsidAutomation, GUID* iidAutomation, GUID* iidFocusHandler) {
    *clsidAutomation = CLSID_CUIAutomation;
    *iidAutomation = IID_IUIAutomation;
    *iidFocusHandler = IID_IUIAutomationFocusChangedEventHandler;
}

void WineUiaNumbers(int* out) {
    const int numbers[] = {UIA_BoundingRectanglePropertyId, UIA_ControlTypePropertyId, UIA_NamePropertyId,
                           UIA_IsEnabledPropertyId,         UIA_AutomationIdPropertyId, UIA_IsPasswordPropertyId,
                           UIA_IsOffscreenPropertyId,       UIA_ValueValuePropertyId,   UIA_ComboBoxControlTypeId,
                           UIA_EditControlTypeId,           UIA_SpinnerControlTypeId};
    size_t k;
    for (k = 0; k < sizeof numbers / sizeof numbers[0]; ++k) out[k] = numbers[k];
}
