// Wine has no UI Automation client, so the inspector's calls never reach a real one in
// these tests. Instead every slot the inspector calls is called through Wine's independent
// C declaration of the same interfaces into recorders built on our declaration: a slot of
// ours that sits elsewhere than Windows puts it lands in a wrong method and shows in the log.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "training/win32/uia_com.h"
#include "training/win32/uia_walk.h"
#include "wine_uia_calls.h"

namespace {

using namespace sv::training;

std::vector<std::string> g_log;

template <class Interface>
struct Recorder : Interface {
    explicit Recorder(const char* name) : name_(name) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT Note(const std::string& what) {
        g_log.push_back(name_ + "." + what);
        return S_OK;
    }
    // Slots past the end of our declaration: a call that lands there is logged, not a crash.
    virtual HRESULT STDMETHODCALLTYPE PastTheEnd0() { return Note("past the end"); }
    virtual HRESULT STDMETHODCALLTYPE PastTheEnd1() { return Note("past the end"); }
    virtual HRESULT STDMETHODCALLTYPE PastTheEnd2() { return Note("past the end"); }
    virtual HRESULT STDMETHODCALLTYPE PastTheEnd3() { return Note("past the end"); }
    std::string name_;
};

#define SV_UNUSED(n) \
    HRESULT STDMETHODCALLTYPE Unused##n() override { return Note("Unused" #n); }
#define SV_GET(method, type, value) \
    HRESULT STDMETHODCALLTYPE method(type* out) override { \
        *out = value;                                       \
        return Note(#method);                               \
    }
// The Current and the Cached getter of one property.
#define SV_GET_BOTH(property, type, value) \
    SV_GET(get_Current##property, type, value) SV_GET(get_Cached##property, type, value)
#define SV_PROPERTY_VALUE(method) \
    HRESULT STDMETHODCALLTYPE method(int id, VARIANT* out) override { \
        VariantInit(out);                                            \
        return Note(#method " " + std::to_string(id));               \
    }
// A walker step that finds nothing; `...` holds the parameters between the element and the
// result, each followed by a comma.
#define SV_STEP(method, ...) \
    HRESULT STDMETHODCALLTYPE method(uia::IElement*, __VA_ARGS__ uia::IElement** out) override { \
        *out = nullptr;                                                                        \
        return Note(#method);                                                                  \
    }

struct Element : Recorder<uia::IElement> {
    Element() : Recorder("Element") {}
    SV_UNUSED(0) SV_UNUSED(1) SV_UNUSED(2) SV_UNUSED(3) SV_UNUSED(4) SV_UNUSED(5) SV_UNUSED(6) SV_UNUSED(8)
    SV_UNUSED(10) SV_UNUSED(11) SV_UNUSED(12) SV_UNUSED(13) SV_UNUSED(14) SV_UNUSED(15) SV_UNUSED(16) SV_UNUSED(19)
    SV_UNUSED(21) SV_UNUSED(22) SV_UNUSED(23) SV_UNUSED(24) SV_UNUSED(28) SV_UNUSED(29) SV_UNUSED(30) SV_UNUSED(31)
    SV_UNUSED(33) SV_UNUSED(34) SV_UNUSED(36) SV_UNUSED(37) SV_UNUSED(38) SV_UNUSED(39) SV_UNUSED(41) SV_UNUSED(42)
    SV_UNUSED(43) SV_UNUSED(44) SV_UNUSED(45) SV_UNUSED(46) SV_UNUSED(47) SV_UNUSED(48) SV_UNUSED(49) SV_UNUSED(51)
    SV_UNUSED(53) SV_UNUSED(54) SV_UNUSED(55) SV_UNUSED(56) SV_UNUSED(59) SV_UNUSED(60) SV_UNUSED(61) SV_UNUSED(62)
    SV_UNUSED(63) SV_UNUSED(65) SV_UNUSED(66) SV_UNUSED(68) SV_UNUSED(69) SV_UNUSED(70) SV_UNUSED(71)
    SV_PROPERTY_VALUE(GetCurrentPropertyValue)
    SV_PROPERTY_VALUE(GetCachedPropertyValue)
    SV_GET(get_CurrentProcessId, int, 0)
    SV_GET(get_CurrentClassName, BSTR, nullptr)
    SV_GET_BOTH(ControlType, int, 0)
    SV_GET_BOTH(Name, BSTR, nullptr)
    SV_GET_BOTH(IsEnabled, BOOL, FALSE)
    SV_GET_BOTH(AutomationId, BSTR, nullptr)
    SV_GET_BOTH(IsPassword, BOOL, FALSE)
    SV_GET_BOTH(IsOffscreen, BOOL, FALSE)
    SV_GET_BOTH(BoundingRectangle, RECT, RECT{})
};

struct CacheRequest : Recorder<uia::ICacheRequest> {
    CacheRequest() : Recorder("Cache") {}
    HRESULT STDMETHODCALLTYPE AddProperty(int id) override { return Note("AddProperty " + std::to_string(id)); }
};

struct Walker : Recorder<uia::ITreeWalker> {
    Walker() : Recorder("Walker") {}
    SV_UNUSED(2) SV_UNUSED(4) SV_UNUSED(5) SV_UNUSED(6) SV_UNUSED(8)
    SV_STEP(GetParentElement, )
    SV_STEP(GetFirstChildElement, )
    SV_STEP(GetNextSiblingElement, )
    SV_STEP(GetFirstChildElementBuildCache, uia::ICacheRequest*, )
    SV_STEP(GetNextSiblingElementBuildCache, uia::ICacheRequest*, )
};

struct FocusHandler : Recorder<uia::IFocusChangedEventHandler> {
    FocusHandler() : Recorder("Handler") {}
    HRESULT STDMETHODCALLTYPE HandleFocusChangedEvent(uia::IElement*) override {
        return Note("HandleFocusChangedEvent");
    }
};

struct Automation : Recorder<uia::IAutomation> {
    Automation() : Recorder("Automation") {}
    SV_UNUSED(0) SV_UNUSED(1) SV_UNUSED(2) SV_UNUSED(5) SV_UNUSED(6) SV_UNUSED(8) SV_UNUSED(9) SV_UNUSED(10)
    SV_UNUSED(12) SV_UNUSED(13) SV_UNUSED(14) SV_UNUSED(15) SV_UNUSED(16) SV_UNUSED(18) SV_UNUSED(19) SV_UNUSED(20)
    SV_UNUSED(21) SV_UNUSED(22) SV_UNUSED(23) SV_UNUSED(24) SV_UNUSED(25) SV_UNUSED(26) SV_UNUSED(27) SV_UNUSED(28)
    SV_UNUSED(29) SV_UNUSED(30) SV_UNUSED(31) SV_UNUSED(32) SV_UNUSED(33) SV_UNUSED(34) SV_UNUSED(35)
    HRESULT STDMETHODCALLTYPE ElementFromHandle(void* hwnd, uia::IElement** out) override {
        *out = nullptr;
        return Note("ElementFromHandle " + std::to_string(reinterpret_cast<uintptr_t>(hwnd)));
    }
    HRESULT STDMETHODCALLTYPE ElementFromPoint(POINT p, uia::IElement** out) override {
        *out = nullptr;
        return Note("ElementFromPoint " + std::to_string(p.x) + "," + std::to_string(p.y));
    }
    HRESULT STDMETHODCALLTYPE ElementFromHandleBuildCache(void* hwnd, uia::ICacheRequest*,
                                                          uia::IElement** out) override {
        *out = nullptr;
        return Note("ElementFromHandleBuildCache " + std::to_string(reinterpret_cast<uintptr_t>(hwnd)));
    }
    SV_GET(get_ControlViewWalker, uia::ITreeWalker*, nullptr)
    SV_GET(CreateCacheRequest, uia::ICacheRequest*, nullptr)
    HRESULT STDMETHODCALLTYPE AddFocusChangedEventHandler(uia::ICacheRequest*,
                                                          uia::IFocusChangedEventHandler*) override {
        return Note("AddFocusChangedEventHandler");
    }
    HRESULT STDMETHODCALLTYPE RemoveFocusChangedEventHandler(uia::IFocusChangedEventHandler*) override {
        return Note("RemoveFocusChangedEventHandler");
    }
};

#undef SV_STEP
#undef SV_PROPERTY_VALUE
#undef SV_GET_BOTH
#undef SV_GET
#undef SV_UNUSED

TEST(UiaSlots, EverySlotWeCallIsWhereWinesDeclarationPutsIt) {
    Automation automation;
    Element element;
    CacheRequest cache;
    Walker walker;
    FocusHandler handler;
    g_log.clear();
    // The recorders are passed as the interface pointers COM hands out.
    WineUiaCallEverySlot(static_cast<uia::IAutomation*>(&automation), static_cast<uia::IElement*>(&element),
                         static_cast<uia::ICacheRequest*>(&cache), static_cast<uia::ITreeWalker*>(&walker),
                         static_cast<uia::IFocusChangedEventHandler*>(&handler));
    const std::vector<std::string> expected = {
        "Element.GetCurrentPropertyValue 30045",
        "Element.GetCachedPropertyValue 30045",
        "Element.get_CurrentProcessId",
        "Element.get_CurrentControlType",
        "Element.get_CurrentName",
        "Element.get_CurrentIsEnabled",
        "Element.get_CurrentAutomationId",
        "Element.get_CurrentClassName",
        "Element.get_CurrentIsPassword",
        "Element.get_CurrentIsOffscreen",
        "Element.get_CurrentBoundingRectangle",
        "Element.get_CachedControlType",
        "Element.get_CachedName",
        "Element.get_CachedIsEnabled",
        "Element.get_CachedAutomationId",
        "Element.get_CachedIsPassword",
        "Element.get_CachedIsOffscreen",
        "Element.get_CachedBoundingRectangle",
        "Cache.AddProperty 30005",
        "Walker.GetParentElement",
        "Walker.GetFirstChildElement",
        "Walker.GetNextSiblingElement",
        "Walker.GetFirstChildElementBuildCache",
        "Walker.GetNextSiblingElementBuildCache",
        "Automation.ElementFromHandle 22136",
        "Automation.ElementFromPoint 12,34",
        "Automation.ElementFromHandleBuildCache 22136",
        "Automation.get_ControlViewWalker",
        "Automation.CreateCacheRequest",
        "Automation.AddFocusChangedEventHandler",
        "Automation.RemoveFocusChangedEventHandler",
        "Handler.HandleFocusChangedEvent",
    };
    EXPECT_EQ(g_log, expected);
}

TEST(UiaSlots, ClassInterfaceAndPropertyIdsMatchWines) {
    GUID clsid{}, automation{}, focus{};
    WineUiaIds(&clsid, &automation, &focus);
    EXPECT_TRUE(IsEqualGUID(clsid, uia::kClsidAutomation));
    EXPECT_TRUE(IsEqualGUID(automation, uia::kIidAutomation));
    EXPECT_TRUE(IsEqualGUID(focus, uia::kIidFocusChangedEventHandler));
    int wine[WINE_UIA_NUMBER_COUNT] = {};
    WineUiaNumbers(wine);
    const int ours[WINE_UIA_NUMBER_COUNT] = {
        uia::kPropBoundingRectangle, uia::kPropControlType, uia::kPropName,     uia::kPropIsEnabled,
        uia::kPropAutomationId,      uia::kPropIsPassword,  uia::kPropIsOffscreen, uia::kPropValue,
        kControlTypeComboBox,        kControlTypeEdit,      kControlTypeSpinner};
    EXPECT_EQ(std::vector<int>(wine, wine + WINE_UIA_NUMBER_COUNT), std::vector<int>(ours, ours + WINE_UIA_NUMBER_COUNT));
}

}  // namespace
