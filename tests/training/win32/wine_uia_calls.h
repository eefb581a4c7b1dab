/* The UI Automation calls made through Wine's declaration of the interfaces. */
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calls each slot the inspector uses once, element first, then the cache request, the
 * walker, the automation object and the handler (the test's expected log lists them). */
void WineUiaCallEverySlot(void* automation, void* element, void* cache, void* walker, void* handler);
void WineUiaIds(GUID* clsidAutomation, GUID* iidAutomation, GUID* iidFocusHandler);
/* The property ids BoundingRectangle, ControlType, Name, IsEnabled, AutomationId,
 * IsPassword, IsOffscreen, Value, then the control types ComboBox, Edit, Spinner. */
#define WINE_UIA_NUMBER_COUNT 11
void WineUiaNumbers(int* out);

#ifdef __cplusplus
}
#endif
