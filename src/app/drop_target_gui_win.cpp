#include "app/drop_target_gui_win.h"

#include <new>

namespace tavrin {
namespace {

class FileDropTarget final : public IDropTarget {
 public:
  explicit FileDropTarget(FileDropHandler handler) : handler_(handler) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDropTarget) {
      *object = static_cast<IDropTarget*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    ReleaseData();
    TakeData(data);
    return Answer(DropStep::Enter, effect);
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override { return Answer(DropStep::Over, effect); }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    handler_(DropStep::Leave, nullptr);
    ReleaseData();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    if (!hasMedium_) TakeData(data);
    const HRESULT hr = Answer(DropStep::Drop, effect);
    ReleaseData();
    return hr;
  }

 private:
  ~FileDropTarget() { ReleaseData(); }
  void TakeData(IDataObject* data) {
    FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (data && SUCCEEDED(data->GetData(&fmt, &medium_))) hasMedium_ = true;
  }
  HRESULT Answer(DropStep step, DWORD* effect) {
    bool yes = false;
    if (hasMedium_) {
      HDROP drop = static_cast<HDROP>(GlobalLock(medium_.hGlobal));
      if (drop) {
        yes = handler_(step, drop);
        GlobalUnlock(medium_.hGlobal);
      }
    }
    if (effect) *effect = yes ? DROPEFFECT_COPY : DROPEFFECT_NONE;
    return S_OK;
  }
  void ReleaseData() {
    if (hasMedium_) {
      ReleaseStgMedium(&medium_);
      hasMedium_ = false;
    }
  }
  FileDropHandler handler_;
  LONG refs_ = 1;
  STGMEDIUM medium_ = {};
  bool hasMedium_ = false;
};

}  // namespace

IDropTarget* CreateFileDropTarget(FileDropHandler handler) { return new (std::nothrow) FileDropTarget(handler); }

bool FirstDroppedFile(HDROP drop, bool (*accept)(Utf16View path), Utf16Text<261>& out) {
  const UINT n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < n; ++i) {
    wchar_t name[MAX_PATH + 1] = {};
    const UINT len = DragQueryFileW(drop, i, name, MAX_PATH);
    if (len == 0 || len > MAX_PATH) continue;
    const Utf16View v(reinterpret_cast<const char16_t*>(name), len);
    if (accept(v)) {
      out.assign(v);
      return true;
    }
  }
  return false;
}

}  // namespace tavrin
