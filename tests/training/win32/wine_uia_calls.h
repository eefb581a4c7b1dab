/* The UI Automation calls made through Wine's declaration of the interfaces. */
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calls, in this order: the element's GetCurrentPropertyValue and GetCachedPropertyValue
 * (the Value property), its Current ProcessId, ControlType, Name, IsEnabled, AutomationId,
 * ClassName, IsPassword, IsOffscreen, BoundingRectangle and its Cached ControlType, Name,
 * IsEnabled, AutomationId, IsPassword, IsOffscreen, BoundingRectangle; the cache request's
 * AddProperty (Name); the walker's GetParentElement, GetFirstChildElement,
 * GetNextSiblingElement, GetFirstChildElementBuildCache, GetNextSiblingElementBuildCache;
 * the automation object's ElementFromHandle (0x5678), ElementFromPoint (12, 34),
 * ElementFromHandleBuildCache, get_ControlViewWalker, CreateCacheRequest,
 * AddFocusChangedEventHandler, RemoveFocusChangedEventHandler; the handler's
 * HandleFocusChangedEvent. */
void WineUiaCallEverySlot(void* automation, void* element, void* cache, void* walker, void* handler);
void WineUiaIds(GUID* clsidAutomation, GUID* iidAutomation, GUID* iidFocusHandler);
/* The property ids BoundingRectangle, ControlType, Name, IsEnabled, AutomationId,
 * IsPassword, IsOffscreen, Value, then the control types ComboBox, Edit, Spinner. */
#define WINE_UIA_NUMBER_COUNT 11
void WineUiaNumbers(int* out);

#ifdef __cplusplus
}
#endif
