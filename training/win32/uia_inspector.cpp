#include "training/win32/uia_inspector.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include "base/annotated_mutex.h"
#include "base/audit_log.h"
#include "base/detachable_thread.h"
#include "base/text_encoding.h"
#include "training/win32/detached_query.h"
#include "training/win32/focus_relay.h"
#include "training/ui_query.h"
#include "training/win32/uia_com.h"
#include "training/win32/uia_walk.h"
#include "training/win32/window_info.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

constexpr const char* kNoAnswer = "UI Automation did not answer in time";

// A provider may report any rectangle; sizes beyond 32 bits are held at the limit.
Box BoxFromRect(const RECT& r) {
    auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max()));
    };
    return Box{r.left, r.top, clamp(static_cast<int64_t>(r.right) - r.left),
               clamp(static_cast<int64_t>(r.bottom) - r.top)};
}

// Owns one reference to a COM object.
template <class T>
class Com {
public:
    Com() = default;
    explicit Com(T* p) : p_(p) {}
    ~Com() {
        if (p_ != nullptr) p_->Release();
    }
    Com(Com&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T* get() const { return p_; }
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// An element as the walks see it: a shared handle that releases its reference last.
UiaNode Wrap(uia::IElement* element) {
    if (element == nullptr) return UiaNode();
    return UiaNode(element, [](void* p) { static_cast<uia::IElement*>(p)->Release(); });
}
uia::IElement* Raw(const UiaNode& node) { return static_cast<uia::IElement*>(node.get()); }

std::string BstrToUtf8(BSTR text) {
    if (text == nullptr) return std::string();
    std::string out = Utf16ToUtf8(std::wstring(text, SysStringLen(text)));
    SysFreeString(text);
    return out;
}

std::optional<std::string> VariantText(VARIANT& value) {
    std::optional<std::string> out;
    if (value.vt == VT_BSTR && value.bstrVal != nullptr) {
        out = Utf16ToUtf8(std::wstring(value.bstrVal, SysStringLen(value.bstrVal)));
    } else if (value.vt == VT_BSTR) {
        out = std::string();
    }
    VariantClear(&value);
    return out;
}

Com<uia::IAutomation> CreateUiAutomation() {
    Com<uia::IAutomation> automation;
    if (FAILED(CoCreateInstance(uia::kClsidAutomation, nullptr, CLSCTX_INPROC_SERVER, uia::kIidAutomation,
                                reinterpret_cast<void**>(automation.out())))) {
        return Com<uia::IAutomation>();
    }
    return automation;
}

std::vector<UiaNode> ChildrenOf(uia::ITreeWalker* walker, uia::ICacheRequest* cache, const UiaNode& parent,
                                size_t cap) {
    std::vector<UiaNode> out;
    uia::IElement* child = nullptr;
    HRESULT hr = cache ? walker->GetFirstChildElementBuildCache(Raw(parent), cache, &child)
                       : walker->GetFirstChildElement(Raw(parent), &child);
    while (SUCCEEDED(hr) && child != nullptr && out.size() < cap) {
        out.push_back(Wrap(child));
        child = nullptr;
        hr = cache ? walker->GetNextSiblingElementBuildCache(Raw(out.back()), cache, &child)
                   : walker->GetNextSiblingElement(Raw(out.back()), &child);
    }
    if (child != nullptr) child->Release();
    return out;
}

CachedNode ReadCachedNode(uia::IElement* e) {
    CachedNode node;
    BSTR text = nullptr;
    if (SUCCEEDED(e->get_CachedName(&text))) node.name = BstrToUtf8(text);
    text = nullptr;
    if (SUCCEEDED(e->get_CachedAutomationId(&text))) node.automationId = BstrToUtf8(text);
    int type = 0;
    if (SUCCEEDED(e->get_CachedControlType(&type))) node.controlTypeId = type;
    node.controlType = ControlTypeName(node.controlTypeId);
    RECT r{};
    if (SUCCEEDED(e->get_CachedBoundingRectangle(&r))) {
        const Box box = BoxFromRect(r);
        if (box.width > 0 || box.height >= 1) node.rect = box;
    }
    BOOL flag = FALSE;
    if (SUCCEEDED(e->get_CachedIsOffscreen(&flag))) node.offscreen = flag != FALSE;
    if (SUCCEEDED(e->get_CachedIsEnabled(&flag))) node.enabled = flag != FALSE;
    if (SUCCEEDED(e->get_CachedIsPassword(&flag))) node.password = flag != FALSE;
    if (!node.password && (node.controlTypeId == kControlTypeEdit || node.controlTypeId == kControlTypeComboBox ||
                           node.controlTypeId == kControlTypeSpinner)) {
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(e->GetCachedPropertyValue(uia::kPropValue, &value))) {
            node.value = TreeNodeValue(node.controlTypeId, node.password, VariantText(value));
        } else {
            VariantClear(&value);
        }
    }
    return node;
}

std::optional<Box> CurrentBox(uia::IElement* e) {
    RECT r{};
    if (FAILED(e->get_CurrentBoundingRectangle(&r))) return std::nullopt;
    const Box box = BoxFromRect(r);
    if (box.width < 1 && box.height < 1) return std::nullopt;
    return box;
}

std::optional<UiElement> DescribeElement(uia::IElement* e) {
    if (e == nullptr) return std::nullopt;
    UiElement out;
    BSTR text = nullptr;
    if (SUCCEEDED(e->get_CurrentName(&text))) out.name = Utf8Prefix(BstrToUtf8(text), 120);
    int type = 0;
    if (FAILED(e->get_CurrentControlType(&type))) type = 0;
    out.controlType = ControlTypeName(type);
    text = nullptr;
    if (SUCCEEDED(e->get_CurrentAutomationId(&text))) out.automationId = BstrToUtf8(text);
    text = nullptr;
    if (SUCCEEDED(e->get_CurrentClassName(&text))) out.className = BstrToUtf8(text);
    if (std::optional<Box> box = CurrentBox(e)) out.rect = *box;
    int pid = 0;
    out.processId = SUCCEEDED(e->get_CurrentProcessId(&pid)) ? static_cast<uint32_t>(pid) : 0;
    BOOL flag = TRUE;
    out.enabled = SUCCEEDED(e->get_CurrentIsEnabled(&flag)) ? flag != FALSE : true;
    BOOL password = FALSE;
    if (FAILED(e->get_CurrentIsPassword(&password))) password = FALSE;
    if (!password && (type == kControlTypeEdit || type == kControlTypeComboBox)) {
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(e->GetCurrentPropertyValue(uia::kPropValue, &value))) {
            out.value = ElementValue(type, false, VariantText(value));
        } else {
            VariantClear(&value);
        }
    }
    return out;
}

std::optional<WindowInfo> ResolveWindow(const std::string& selector) {
    const WindowSelector parsed = ParseWindowSelector(selector);
    switch (parsed.kind) {
    case WindowSelector::Kind::Foreground:
        return ForegroundWindowInfo();
    case WindowSelector::Kind::Handle:
        return DescribeWindow(static_cast<uint64_t>(parsed.handle));
    case WindowSelector::Kind::Title: {
        const uint32_t self = GetCurrentProcessId();
        for (const WindowInfo& w : FindWindowByTitle(parsed.title)) {
            if (w.processId != self) return w;
        }
        return std::nullopt;
    }
    case WindowSelector::Kind::Nothing:
        break;
    }
    return std::nullopt;
}

bool BeginComThread() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
void EndComThread() { CoUninitialize(); }

class FocusHandler final : public uia::IFocusChangedEventHandler {
public:
    explicit FocusHandler(std::shared_ptr<FocusRelay> relay) : relay_(std::move(relay)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, uia::kIidFocusChangedEventHandler)) {
            *out = static_cast<uia::IFocusChangedEventHandler*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE HandleFocusChangedEvent(uia::IElement* sender) override {
        try {
            relay_->Deliver(DescribeElement(sender));
        } catch (...) {
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<FocusRelay> relay_;
};

class UiaInspector : public IUiInspector {
public:
    UiaInspector() : queries_(std::make_shared<QueryThreadCount>()) {}

    ~UiaInspector() override {
        StopFocusTracking();
        OnFocus = nullptr;
        // Query threads own what they touch; waiting a little lets a one-shot process end
        // after its last query instead of under it.
        queries_->WaitIdle(std::chrono::milliseconds(2000));
    }

    void StartFocusTracking() override SV_EXCLUDES(stateMutex_, stopMutex_) {
        MutexLock lock(stateMutex_);
        if (focusThread_.Joinable()) return;
        {
            MutexLock stopLock(stopMutex_);
            stop_ = false;
        }
        // The callback is taken now: delivery threads never read the member.
        auto relay = std::make_shared<FocusRelay>(OnFocus, GetCurrentProcessId());
        focusThread_ = DetachableThread([this, relay] { FocusThreadMain(relay); });
    }

    // Joins the focus thread, which takes stopMutex_ to wait for its stop.
    void StopFocusTracking() override SV_EXCLUDES(stateMutex_, stopMutex_) {
        MutexLock lock(stateMutex_);
        if (!focusThread_.Joinable()) return;
        {
            MutexLock stopLock(stopMutex_);
            stop_ = true;
        }
        stopSignal_.NotifyAll();
        focusThread_.JoinUnlessSelf();
    }

    std::pair<json, std::string> QueryTree(const WindowTreeQuery& query, uint32_t timeoutMs) override {
        using Answer = std::pair<json, std::string>;
        // The tree dump enters COM itself, once it knows there is a window to read.
        return RunDetachedQuery<Answer>([query] { return DumpWindowTreeJson(query); }, timeoutMs,
                                        Answer(nullptr, kNoAnswer), Answer(nullptr, BusyText()), queries_, nullptr,
                                        nullptr);
    }

    std::optional<UiElement> ElementAt(int32_t x, int32_t y, uint32_t timeoutMs) override {
        // The slot has no room for a reason: a refused point query is an empty answer.
        return RunDetachedQuery<std::optional<UiElement>>([x, y] { return ElementAtScreenPoint(x, y); },
                                                          timeoutMs, std::nullopt, std::nullopt, queries_,
                                                          BeginComThread, EndComThread);
    }

private:
    std::string BusyText() const {
        return "UI Automation is still waiting on " + std::to_string(queries_->MaxStranded()) +
               " earlier queries that did not answer; try again once the application responds";
    }

    void FocusThreadMain(std::shared_ptr<FocusRelay> relay) SV_EXCLUDES(stopMutex_) {
        const bool comReady = BeginComThread();
        {
            Com<uia::IAutomation> automation = CreateUiAutomation();
            if (!automation) {
                WriteAuditLine("training-uia", "focus handler: UI Automation unavailable", "");
            } else {
                FocusHandler* handler = new FocusHandler(relay);
                const HRESULT hr = automation->AddFocusChangedEventHandler(nullptr, handler);
                if (FAILED(hr)) {
                    WriteAuditLine("training-uia", "focus handler: hr=" + std::to_string(static_cast<long>(hr)), "");
                }
                WaitForStop();
                if (SUCCEEDED(hr)) automation->RemoveFocusChangedEventHandler(handler);
                relay->Close();
                handler->Release();
            }
        }
        relay->Close();
        if (comReady) EndComThread();
    }

    void WaitForStop() SV_EXCLUDES(stopMutex_) {
        MutexLock lock(stopMutex_);
        stopSignal_.Wait(lock, [this]() SV_REQUIRES(stopMutex_) { return stop_; });
    }

    Mutex stateMutex_;
    DetachableThread focusThread_ SV_GUARDED_BY(stateMutex_);
    Mutex stopMutex_ SV_ACQUIRED_AFTER(stateMutex_);
    CondVar stopSignal_;
    bool stop_ SV_GUARDED_BY(stopMutex_) = false;
    std::shared_ptr<QueryThreadCount> queries_;
};

}  // namespace

std::pair<json, std::string> DumpWindowTreeJson(const WindowTreeQuery& query) {
    std::optional<WindowInfo> window = ResolveWindow(query.window);
    if (!window) return {nullptr, NoWindowMatches(query.window)};
    // Finding the window needs no apartment; entering one only to say that no window
    // matches would make that answer wait on COM. Left after every COM object below.
    struct ComScope {
        const bool owed = BeginComThread();
        ~ComScope() {
            if (owed) EndComThread();
        }
    } com;
    Com<uia::IAutomation> automation = CreateUiAutomation();
    if (!automation) return {nullptr, "UI Automation is not available on this host"};

    Com<uia::ICacheRequest> cache;
    Com<uia::ITreeWalker> walker;
    uia::IElement* root = nullptr;
    bool opened = SUCCEEDED(automation->CreateCacheRequest(cache.out())) && cache;
    if (opened) {
        for (int property : {uia::kPropName, uia::kPropAutomationId, uia::kPropControlType,
                             uia::kPropBoundingRectangle, uia::kPropIsOffscreen, uia::kPropIsEnabled,
                             uia::kPropIsPassword, uia::kPropValue}) {
            cache->AddProperty(property);
        }
        opened = SUCCEEDED(automation->get_ControlViewWalker(walker.out())) && walker;
    }
    if (opened) {
        opened = SUCCEEDED(automation->ElementFromHandleBuildCache(
                     ToHwnd(window->hwnd), cache.get(), &root)) &&
                 root != nullptr;
    }
    if (!opened) {
        if (root != nullptr) root->Release();
        return {nullptr, "UI Automation could not open that window"};
    }
    UiaNode rootNode = Wrap(root);

    TreeWalk walk;
    uia::ITreeWalker* w = walker.get();
    uia::ICacheRequest* c = cache.get();
    walk.source.read = [](const UiaNode& n) { return ReadCachedNode(Raw(n)); };
    walk.source.children = [w, c](const UiaNode& n, size_t cap) { return ChildrenOf(w, c, n, cap); };
    walk.source.hasChild = [w](const UiaNode& n) {
        uia::IElement* child = nullptr;
        const bool has = SUCCEEDED(w->GetFirstChildElement(Raw(n), &child)) && child != nullptr;
        if (child != nullptr) child->Release();
        return has;
    };
    walk.source.containsNoCase = ContainsNoCase;
    walk.depthLimit = query.depth;
    walk.nodeLimit = query.maxNodes;
    walk.nameContains = query.nameContains;
    walk.originX = query.originX;
    walk.originY = query.originY;

    json result = json::object();
    result["window"] = window->title;
    result["process"] = window->process;
    if (query.nameContains.empty()) {
        json tree = ElementTreeToJson(walk, rootNode, 0);
        result["nodes"] = walk.nodes;
        result["truncated"] = walk.truncated;
        if (!tree.is_null()) result["tree"] = std::move(tree);
    } else {
        ElementPath(walk, rootNode, "", 0);
        result["matches"] = walk.matches;
        result["truncated"] = walk.truncated;
    }
    return {result, std::string()};
}

std::optional<UiElement> ElementAtScreenPoint(int32_t x, int32_t y) {
    Com<uia::IAutomation> automation = CreateUiAutomation();
    if (!automation) return std::nullopt;
    uia::IElement* raw = nullptr;
    if (FAILED(automation->ElementFromPoint(POINT{x, y}, &raw))) raw = nullptr;
    UiaNode pointElement = Wrap(raw);
    UiaNode windowElement;
    if (HWND hwnd = WindowFromPoint(POINT{x, y})) {
        raw = nullptr;
        if (SUCCEEDED(automation->ElementFromHandle(hwnd, &raw))) windowElement = Wrap(raw);
    }
    Com<uia::ITreeWalker> walker;
    if (FAILED(automation->get_ControlViewWalker(walker.out())) || !walker) {
        std::optional<UiElement> own = DescribeElement(Raw(pointElement));
        return own ? own : DescribeElement(Raw(windowElement));
    }
    uia::ITreeWalker* w = walker.get();
    PointSource source;
    source.box = [](const UiaNode& n) { return CurrentBox(Raw(n)); };
    source.parent = [w](const UiaNode& n) {
        uia::IElement* parent = nullptr;
        if (FAILED(w->GetParentElement(Raw(n), &parent))) return UiaNode();
        return Wrap(parent);
    };
    source.children = [w](const UiaNode& n, size_t cap) { return ChildrenOf(w, nullptr, n, cap); };
    source.skip = [](const UiaNode& n) {
        BOOL offscreen = FALSE;
        return FAILED(Raw(n)->get_CurrentIsOffscreen(&offscreen)) || offscreen != FALSE;
    };
    UiaNode refined = RefineElementAtPoint(pointElement, x, y, windowElement, source);
    std::optional<UiElement> described = DescribeElement(Raw(refined));
    if (!described && windowElement) described = DescribeElement(Raw(windowElement));
    return described;
}

std::unique_ptr<IUiInspector> MakeUiaInspector() { return std::make_unique<UiaInspector>(); }

}  // namespace training
}  // namespace sv
