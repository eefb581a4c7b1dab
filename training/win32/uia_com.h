#pragma once
// The few UI Automation client interfaces the inspector calls. The MinGW headers of this
// tool chain declare the library but not its interfaces, so they are declared here with
// every slot in order; slots never called keep their place under a placeholder name. The
// tests call each slot used through Wine's own declaration of these interfaces.
#include <windows.h>
#include <oleauto.h>

namespace sv {
namespace training {
namespace uia {

#define SV_UIA_UNUSED_SLOT(n) virtual HRESULT STDMETHODCALLTYPE Unused##n() = 0

struct IElement;
struct ICacheRequest;

struct IElement : public IUnknown {
    SV_UIA_UNUSED_SLOT(0);  // SetFocus
    SV_UIA_UNUSED_SLOT(1);  // GetRuntimeId
    SV_UIA_UNUSED_SLOT(2);  // FindFirst
    SV_UIA_UNUSED_SLOT(3);  // FindAll
    SV_UIA_UNUSED_SLOT(4);  // FindFirstBuildCache
    SV_UIA_UNUSED_SLOT(5);  // FindAllBuildCache
    SV_UIA_UNUSED_SLOT(6);  // BuildUpdatedCache
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(int propertyId, VARIANT* value) = 0;
    SV_UIA_UNUSED_SLOT(8);  // GetCurrentPropertyValueEx
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValue(int propertyId, VARIANT* value) = 0;
    SV_UIA_UNUSED_SLOT(10);  // GetCachedPropertyValueEx
    SV_UIA_UNUSED_SLOT(11);  // GetCurrentPatternAs
    SV_UIA_UNUSED_SLOT(12);  // GetCachedPatternAs
    SV_UIA_UNUSED_SLOT(13);  // GetCurrentPattern
    SV_UIA_UNUSED_SLOT(14);  // GetCachedPattern
    SV_UIA_UNUSED_SLOT(15);  // GetCachedParent
    SV_UIA_UNUSED_SLOT(16);  // GetCachedChildren
    virtual HRESULT STDMETHODCALLTYPE get_CurrentProcessId(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentControlType(int* value) = 0;
    SV_UIA_UNUSED_SLOT(19);  // LocalizedControlType
    virtual HRESULT STDMETHODCALLTYPE get_CurrentName(BSTR* value) = 0;
    SV_UIA_UNUSED_SLOT(21);  // AcceleratorKey
    SV_UIA_UNUSED_SLOT(22);  // AccessKey
    SV_UIA_UNUSED_SLOT(23);  // HasKeyboardFocus
    SV_UIA_UNUSED_SLOT(24);  // IsKeyboardFocusable
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsEnabled(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAutomationId(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentClassName(BSTR* value) = 0;
    SV_UIA_UNUSED_SLOT(28);  // HelpText
    SV_UIA_UNUSED_SLOT(29);  // Culture
    SV_UIA_UNUSED_SLOT(30);  // IsControlElement
    SV_UIA_UNUSED_SLOT(31);  // IsContentElement
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsPassword(BOOL* value) = 0;
    SV_UIA_UNUSED_SLOT(33);  // NativeWindowHandle
    SV_UIA_UNUSED_SLOT(34);  // ItemType
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsOffscreen(BOOL* value) = 0;
    SV_UIA_UNUSED_SLOT(36);  // Orientation
    SV_UIA_UNUSED_SLOT(37);  // FrameworkId
    SV_UIA_UNUSED_SLOT(38);  // IsRequiredForForm
    SV_UIA_UNUSED_SLOT(39);  // ItemStatus
    virtual HRESULT STDMETHODCALLTYPE get_CurrentBoundingRectangle(RECT* value) = 0;
    SV_UIA_UNUSED_SLOT(41);  // LabeledBy
    SV_UIA_UNUSED_SLOT(42);  // AriaRole
    SV_UIA_UNUSED_SLOT(43);  // AriaProperties
    SV_UIA_UNUSED_SLOT(44);  // IsDataValidForForm
    SV_UIA_UNUSED_SLOT(45);  // ControllerFor
    SV_UIA_UNUSED_SLOT(46);  // DescribedBy
    SV_UIA_UNUSED_SLOT(47);  // FlowsTo
    SV_UIA_UNUSED_SLOT(48);  // ProviderDescription
    SV_UIA_UNUSED_SLOT(49);  // cached ProcessId
    virtual HRESULT STDMETHODCALLTYPE get_CachedControlType(int* value) = 0;
    SV_UIA_UNUSED_SLOT(51);  // cached LocalizedControlType
    virtual HRESULT STDMETHODCALLTYPE get_CachedName(BSTR* value) = 0;
    SV_UIA_UNUSED_SLOT(53);
    SV_UIA_UNUSED_SLOT(54);
    SV_UIA_UNUSED_SLOT(55);
    SV_UIA_UNUSED_SLOT(56);
    virtual HRESULT STDMETHODCALLTYPE get_CachedIsEnabled(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CachedAutomationId(BSTR* value) = 0;
    SV_UIA_UNUSED_SLOT(59);  // cached ClassName
    SV_UIA_UNUSED_SLOT(60);
    SV_UIA_UNUSED_SLOT(61);
    SV_UIA_UNUSED_SLOT(62);
    SV_UIA_UNUSED_SLOT(63);
    virtual HRESULT STDMETHODCALLTYPE get_CachedIsPassword(BOOL* value) = 0;
    SV_UIA_UNUSED_SLOT(65);
    SV_UIA_UNUSED_SLOT(66);
    virtual HRESULT STDMETHODCALLTYPE get_CachedIsOffscreen(BOOL* value) = 0;
    SV_UIA_UNUSED_SLOT(68);
    SV_UIA_UNUSED_SLOT(69);
    SV_UIA_UNUSED_SLOT(70);
    SV_UIA_UNUSED_SLOT(71);
    virtual HRESULT STDMETHODCALLTYPE get_CachedBoundingRectangle(RECT* value) = 0;
};

struct ICacheRequest : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddProperty(int propertyId) = 0;
};

struct ITreeWalker : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParentElement(IElement* element, IElement** parent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstChildElement(IElement* element, IElement** first) = 0;
    SV_UIA_UNUSED_SLOT(2);  // GetLastChildElement
    virtual HRESULT STDMETHODCALLTYPE GetNextSiblingElement(IElement* element, IElement** next) = 0;
    SV_UIA_UNUSED_SLOT(4);  // GetPreviousSiblingElement
    SV_UIA_UNUSED_SLOT(5);  // NormalizeElement
    SV_UIA_UNUSED_SLOT(6);  // GetParentElementBuildCache
    virtual HRESULT STDMETHODCALLTYPE GetFirstChildElementBuildCache(IElement* element, ICacheRequest* cache,
                                                                     IElement** first) = 0;
    SV_UIA_UNUSED_SLOT(8);  // GetLastChildElementBuildCache
    virtual HRESULT STDMETHODCALLTYPE GetNextSiblingElementBuildCache(IElement* element, ICacheRequest* cache,
                                                                      IElement** next) = 0;
};

struct IFocusChangedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE HandleFocusChangedEvent(IElement* sender) = 0;
};

struct IAutomation : public IUnknown {
    SV_UIA_UNUSED_SLOT(0);  // CompareElements
    SV_UIA_UNUSED_SLOT(1);  // CompareRuntimeIds
    SV_UIA_UNUSED_SLOT(2);  // GetRootElement
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(void* hwnd, IElement** element) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromPoint(POINT point, IElement** element) = 0;
    SV_UIA_UNUSED_SLOT(5);  // GetFocusedElement
    SV_UIA_UNUSED_SLOT(6);  // GetRootElementBuildCache
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandleBuildCache(void* hwnd, ICacheRequest* cache,
                                                                  IElement** element) = 0;
    SV_UIA_UNUSED_SLOT(8);   // ElementFromPointBuildCache
    SV_UIA_UNUSED_SLOT(9);   // GetFocusedElementBuildCache
    SV_UIA_UNUSED_SLOT(10);  // CreateTreeWalker
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewWalker(ITreeWalker** walker) = 0;
    SV_UIA_UNUSED_SLOT(12);  // ContentViewWalker
    SV_UIA_UNUSED_SLOT(13);  // RawViewWalker
    SV_UIA_UNUSED_SLOT(14);  // RawViewCondition
    SV_UIA_UNUSED_SLOT(15);  // ControlViewCondition
    SV_UIA_UNUSED_SLOT(16);  // ContentViewCondition
    virtual HRESULT STDMETHODCALLTYPE CreateCacheRequest(ICacheRequest** request) = 0;
    SV_UIA_UNUSED_SLOT(18);  // CreateTrueCondition
    SV_UIA_UNUSED_SLOT(19);  // CreateFalseCondition
    SV_UIA_UNUSED_SLOT(20);  // CreatePropertyCondition
    SV_UIA_UNUSED_SLOT(21);  // CreatePropertyConditionEx
    SV_UIA_UNUSED_SLOT(22);  // CreateAndCondition
    SV_UIA_UNUSED_SLOT(23);  // CreateAndConditionFromArray
    SV_UIA_UNUSED_SLOT(24);  // CreateAndConditionFromNativeArray
    SV_UIA_UNUSED_SLOT(25);  // CreateOrCondition
    SV_UIA_UNUSED_SLOT(26);  // CreateOrConditionFromArray
    SV_UIA_UNUSED_SLOT(27);  // CreateOrConditionFromNativeArray
    SV_UIA_UNUSED_SLOT(28);  // CreateNotCondition
    SV_UIA_UNUSED_SLOT(29);  // AddAutomationEventHandler
    SV_UIA_UNUSED_SLOT(30);  // RemoveAutomationEventHandler
    SV_UIA_UNUSED_SLOT(31);  // AddPropertyChangedEventHandlerNativeArray
    SV_UIA_UNUSED_SLOT(32);  // AddPropertyChangedEventHandler
    SV_UIA_UNUSED_SLOT(33);  // RemovePropertyChangedEventHandler
    SV_UIA_UNUSED_SLOT(34);  // AddStructureChangedEventHandler
    SV_UIA_UNUSED_SLOT(35);  // RemoveStructureChangedEventHandler
    virtual HRESULT STDMETHODCALLTYPE AddFocusChangedEventHandler(ICacheRequest* cache,
                                                                  IFocusChangedEventHandler* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFocusChangedEventHandler(IFocusChangedEventHandler* handler) = 0;
};

#undef SV_UIA_UNUSED_SLOT

// {FF48DBA4-60EF-4201-AA87-54103EEF594E}
constexpr CLSID kClsidAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
// {30CBE57D-D9D0-452A-AB13-7AC5AC4825EE}
constexpr IID kIidAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
// {C270F6B5-5C69-4290-9745-7A7F97169468}
constexpr IID kIidFocusChangedEventHandler = {
    0xc270f6b5, 0x5c69, 0x4290, {0x97, 0x45, 0x7a, 0x7f, 0x97, 0x16, 0x94, 0x68}};

// Property ids read from the cache.
constexpr int kPropBoundingRectangle = 30001;
constexpr int kPropControlType = 30003;
constexpr int kPropName = 30005;
constexpr int kPropIsEnabled = 30010;
constexpr int kPropAutomationId = 30011;
constexpr int kPropIsPassword = 30019;
constexpr int kPropIsOffscreen = 30022;
constexpr int kPropValue = 30045;

}  // namespace uia
}  // namespace training
}  // namespace sv
