#include "DemoWindow.h"

#include <commctrl.h>
#include <olectl.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "Application.h"
#include "Dialogs.h"
#include "Files.h"
#include "resource.h"

namespace zq::demo {

namespace {

const wchar_t kTitle[] = L"ZanQuilmo4 手書きメモ";
const wchar_t kImageFilter[] = L"画像ファイル (*.png;*.bmp;*.jpg;*.jpeg)|*.png;*.bmp;*.jpg;*.jpeg|すべてのファイル (*.*)|*.*";
const wchar_t kMemoFilter[] = L"ZanQuilmo4 メモ (*.zqm)|*.zqm|すべてのファイル (*.*)|*.*";
// A memo file: this signature, then the control's own persisted state.
const char kMemoSignature[8] = {'Z', 'Q', 'M', 'E', 'M', 'O', '1', '\n'};
constexpr std::uint64_t kMaxMemoFile = 512ull << 20;

bool ClassRegistered(const CLSID& clsid) {
  wchar_t guid[40];
  StringFromGUID2(clsid, guid, 40);
  HKEY key;
  const std::wstring path = std::wstring(L"CLSID\\") + guid + L"\\InprocServer32";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring s = text ? text : L"";
  LocalFree(text);
  while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r')) s.pop_back();
  if (s.empty()) s = L"エラー " + std::to_wstring(code);
  return s;
}

bool SetClipboard(HWND owner, UINT format, HANDLE data) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  const bool ok = SetClipboardData(format, data) != nullptr;
  CloseClipboard();
  return ok;
}

}  // namespace

DemoWindow::DemoWindow(std::wstring folder) : Form(L"DemoWindow"), folder_(std::move(folder)) {
  SetCaption(kTitle);
  SetSizeable(true);
  SetKeyPreview(false);
  status_ = Add<fw::StatusBar>(L"status");
  CreateMemo();
  BuildMenu();
  statusTimer_.SetInterval(500);  // the area also changes from the control's own palette
  statusTimer_.OnTimer = [this](fw::Timer&) { UpdateStatus(); };
  statusTimer_.SetEnabled(true);
}

DemoWindow::~DemoWindow() {
  statusTimer_.SetEnabled(false);
  Destroying();
}

void DemoWindow::BuildMenu() {
  HMENU file = menu_.AddMenu(L"ファイル(&F)");
  menu_.AddItem(file, kCmdNew, L"新規メモ(&N)", {FCONTROL, 'N'});
  menu_.AddItem(file, kCmdOpenImage, L"画像を開く(&O)...", {FCONTROL, 'O'});
  HMENU save = menu_.AddMenu(L"画像として保存(&S)", file);
  menu_.AddItem(save, kCmdSavePng, L"PNG 形式(&P)...", {FCONTROL, 'S'});
  menu_.AddItem(save, kCmdSaveBmp, L"BMP 形式(&B)...");
  menu_.AddItem(save, kCmdSaveJpeg, L"JPEG 形式(&J)...");
  menu_.AddSeparator(file);
  menu_.AddItem(file, kCmdOpenMemo, L"メモファイルを開く(&M)...", {FCONTROL | FSHIFT, 'O'});
  menu_.AddItem(file, kCmdSaveMemo, L"メモファイルに保存(&A)...", {FCONTROL | FSHIFT, 'S'});
  menu_.AddSeparator(file);
  menu_.AddItem(file, kCmdExit, L"終了(&X)");

  HMENU edit = menu_.AddMenu(L"編集(&E)");
  menu_.AddItem(edit, kCmdCopyPicture, L"画像をコピー(&C)", {FCONTROL, 'C'});
  menu_.AddItem(edit, kCmdPastePicture, L"画像を貼り付け(&P)", {FCONTROL, 'V'});
  menu_.AddSeparator(edit);
  menu_.AddItem(edit, kCmdCopyBase64, L"Base64 テキストとしてコピー(&B)", {FCONTROL | FSHIFT, 'C'});
  menu_.AddItem(edit, kCmdPasteBase64, L"Base64 テキストを貼り付け(&T)", {FCONTROL | FSHIFT, 'V'});

  HMENU settings = menu_.AddMenu(L"設定(&S)");
  menu_.AddItem(settings, kCmdDrawEnabled, L"描画する(&D)", {FCONTROL, 'D'});
  HMENU border = menu_.AddMenu(L"枠線(&B)", settings);
  menu_.AddItem(border, kCmdBorderNone, L"なし(&N)");
  menu_.AddItem(border, kCmdBorderSingle, L"一重線(&S)");
  menu_.AddItem(border, kCmdBorderSunken, L"くぼみ(&K)");
  menu_.AddItem(border, kCmdBorderRaised, L"浮き出し(&R)");
  HMENU area = menu_.AddMenu(L"描画領域(&A)", settings);
  menu_.AddItem(area, kCmdAreaAutomatic, L"ウィンドウに合わせる(&W)");
  menu_.AddItem(area, kCmdAreaFixed, L"大きさを指定(&F)...");

  HMENU help = menu_.AddMenu(L"ヘルプ(&H)");
  menu_.AddItem(help, kCmdAbout, L"バージョン情報(&A)");
}

void DemoWindow::HandleCreated() {
  Form::HandleCreated();
  menu_.Attach(Handle());
  menu_.SetChecked(kCmdDrawEnabled, drawEnabled_);
  menu_.SetRadio(kCmdBorderNone, kCmdBorderRaised, border_);
  menu_.SetRadio(kCmdAreaAutomatic, kCmdAreaFixed, fixedArea_ ? kCmdAreaFixed : kCmdAreaAutomatic);
  UpdateStatus();
}

// A fresh control in place of the old one: a new memo starts with nothing drawn and an
// empty history. The person's settings carry over.
void DemoWindow::CreateMemo() {
  if (memo_) {
    api_.reset();
    RemoveControl(memo_);
    memo_ = nullptr;
  }
  const std::wstring module = folder_ + L"\\ZanQuilmo4.ocx";
  auto* memo = Add<fw::OleControl>(L"memo", CLSID_ZanQuilmoAx4, module);
  memo_ = memo;
  memo->SetAlign(fw::Align::Client);
  memo->OnStatusText = [this](const std::wstring& text) {
    if (status_) status_->SetText(text.empty() ? L"" : text);
  };
  if (memo->CreatedFromModule()) activation_ = Activation::Module;
  else activation_ = ClassRegistered(CLSID_ZanQuilmoAx4) ? Activation::Registered : Activation::Manifest;
  if (FAILED(memo->Object()->QueryInterface(IID_IZanQuilmoAx4, api_.put_void())))
    throw fw::Error("the control has no IZanQuilmoAx4 interface", E_NOINTERFACE);
  ApplySettings();
}

void DemoWindow::ApplySettings() {
  api_->put_DrawEnabled(drawEnabled_ ? 1 : 0);
  api_->put_AxBorderStyle(static_cast<TxActiveFormBorderStyle>(border_ - kCmdBorderNone));
  if (fixedArea_) {
    api_->put_DrawAreaAlign(alManual);
    api_->put_DrawAreaWidth(areaWidth_);
    api_->put_DrawAreaHeight(areaHeight_);
  }
}

HWND DemoWindow::ControlWindow() const {
  for (HWND child = GetWindow(HandleIfAllocated(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (!status_ || child != status_->HandleIfAllocated()) return child;
  return nullptr;
}

bool DemoWindow::PreTranslate(MSG& msg) {
  if (memo_ && memo_->TranslateAccelerator(msg)) return true;
  // A text box keeps its own editing keys (copy and paste of its text).
  wchar_t cls[16] = {};
  if (msg.hwnd && GetClassNameW(msg.hwnd, cls, 16) && _wcsicmp(cls, L"Edit") == 0) return false;
  return menu_.TranslateShortcut(Handle(), msg);
}

LRESULT DemoWindow::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == 0 || HIWORD(wp) == 1) {  // a menu item or a shortcut
        try {
          RunCommand(LOWORD(wp));
        } catch (...) {
          fw::HandleException();
        }
        return 0;
      }
      break;
    case WM_SIZE: {
      const LRESULT r = Form::WndProc(msg, wp, lp);
      UpdateStatus();
      return r;
    }
    case kRunOnWindowThread:
      try {
        (*reinterpret_cast<std::function<void()>*>(lp))();
      } catch (...) {
        fw::HandleException();
      }
      return 0;
    case WM_SETFOCUS:
      if (memo_) memo_->Focus();
      return 0;
    case WM_CLOSE:
      if (ConfirmDiscard()) DestroyWindow(Handle());
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
  }
  return Form::WndProc(msg, wp, lp);
}

void DemoWindow::RunCommand(UINT command) {
  switch (command) {
    case kCmdNew:
      if (!ConfirmDiscard()) break;
      CreateMemo();
      UpdateStatus();
      break;
    case kCmdOpenImage: AskOpenImage(); break;
    case kCmdSavePng:
    case kCmdSaveBmp:
    case kCmdSaveJpeg: SaveImageAs(command); break;
    case kCmdOpenMemo: AskOpenMemo(); break;
    case kCmdSaveMemo: SaveMemoAs(); break;
    case kCmdExit: PostMessageW(Handle(), WM_CLOSE, 0, 0); break;
    case kCmdCopyPicture: CopyPicture(); break;
    case kCmdPastePicture: PastePicture(); break;
    case kCmdCopyBase64: CopyBase64(); break;
    case kCmdPasteBase64: PasteBase64(); break;
    case kCmdDrawEnabled: SetDrawEnabled(!drawEnabled_); break;
    case kCmdBorderNone:
    case kCmdBorderSingle:
    case kCmdBorderSunken:
    case kCmdBorderRaised: SetBorder(command); break;
    case kCmdAreaAutomatic: SetAutomaticArea(); break;
    case kCmdAreaFixed: AskFixedArea(); break;
    case kCmdAbout: ShowAbout(); break;
    default: break;
  }
}

// ---- files ----

void DemoWindow::SaveImageAs(UINT command) {
  fw::SaveDialog d;
  if (command == kCmdSaveBmp) {
    d.filter = L"BMP 画像 (*.bmp)|*.bmp";
    d.defaultExt = L"bmp";
  } else if (command == kCmdSaveJpeg) {
    d.filter = L"JPEG 画像 (*.jpg;*.jpeg)|*.jpg;*.jpeg";
    d.defaultExt = L"jpg";
  } else {
    d.filter = L"PNG 画像 (*.png)|*.png";
    d.defaultExt = L"png";
  }
  d.fileName = (lastFolder_.empty() ? L"" : lastFolder_ + L"\\") + L"メモ." + d.defaultExt;
  if (!d.Execute(Handle())) return;
  lastFolder_ = fw::FolderOf(d.fileName);
  SaveImage(d.fileName);
}

bool DemoWindow::SaveImage(const std::wstring& name) {
  fw::BStr file(name);
  LONG result = 0;
  const HRESULT hr = api_->SaveToFile(file.get(), &result);
  if (FAILED(hr)) {
    ShowFailure(L"画像を保存できませんでした。", hr);
    return false;
  }
  if (result == 1) {
    ShowMessage(L"画像を保存できませんでした。\n\n保存できる形式は PNG (.png)、BMP (.bmp)、JPEG (.jpg、.jpeg) です。\n" + name,
                MB_ICONWARNING);
    return false;
  }
  if (result != -1) {
    ShowMessage(L"画像を保存できませんでした。\n\n保存先のフォルダーがあるか、書き込めるかを確かめてください。\n" + name,
                MB_ICONERROR);
    return false;
  }
  MarkSaved();
  return true;
}

void DemoWindow::AskOpenImage() {
  fw::OpenDialog d;
  d.filter = kImageFilter;
  if (!d.Execute(Handle())) return;
  lastFolder_ = fw::FolderOf(d.fileName);
  OpenImage(d.fileName, true);
}

bool DemoWindow::OpenImage(const std::wstring& name, bool manual) {
  fw::BStr file(name);
  LONG result = 0;
  const HRESULT hr = api_->LoadFromFile(file.get(), manual ? 1 : 0, 0, 0, &result);
  UpdateStatus();
  if (FAILED(hr)) {
    ShowFailure(L"画像を開けませんでした。", hr);
    return false;
  }
  if (result == 1) {
    ShowMessage(L"この形式の画像は開けません。\n\n開ける形式は PNG、BMP、JPEG です。\n" + name, MB_ICONWARNING);
    return false;
  }
  if (result != -1) {
    ShowMessage(L"画像を開けませんでした。\n\nファイルがあるか、壊れていないかを確かめてください。\n" + name, MB_ICONERROR);
    return false;
  }
  if (manual && memo_) memo_->Focus();  // the arrow keys move the image until Enter
  return true;
}

void DemoWindow::SaveMemoAs() {
  fw::SaveDialog d;
  d.filter = kMemoFilter;
  d.defaultExt = L"zqm";
  d.fileName = (lastFolder_.empty() ? L"" : lastFolder_ + L"\\") + L"メモ.zqm";
  if (!d.Execute(Handle())) return;
  lastFolder_ = fw::FolderOf(d.fileName);
  SaveMemo(d.fileName);
}

bool DemoWindow::SaveMemo(const std::wstring& name) {
  fw::ComPtr<IPersistStreamInit> persist;
  fw::ComPtr<IStream> stream;
  HRESULT hr = memo_->Object()->QueryInterface(IID_IPersistStreamInit, persist.put_void());
  if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  if (SUCCEEDED(hr)) hr = persist->Save(stream.get(), FALSE);  // saved once the file is written
  if (FAILED(hr)) {
    ShowFailure(L"メモを保存できませんでした。", hr);
    return false;
  }
  HGLOBAL memory = nullptr;
  GetHGlobalFromStream(stream.get(), &memory);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::string bytes(kMemoSignature, sizeof kMemoSignature);
  if (const char* p = static_cast<const char*>(GlobalLock(memory))) {
    bytes.append(p, static_cast<std::size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
  }
  if (!fw::ReplaceFileContents(name, bytes)) {
    ShowMessage(L"メモを保存できませんでした。\n\n" + SystemMessage(GetLastError()) + L"\n" + name, MB_ICONERROR);
    return false;
  }
  MarkSaved();
  return true;
}

void DemoWindow::AskOpenMemo() {
  if (!ConfirmDiscard()) return;
  fw::OpenDialog d;
  d.filter = kMemoFilter;
  if (!d.Execute(Handle())) return;
  lastFolder_ = fw::FolderOf(d.fileName);
  OpenMemo(d.fileName);
}

// The memo is read into a new control; the one on screen stays when the file is no memo.
bool DemoWindow::OpenMemo(const std::wstring& name) {
  const std::optional<std::string> read = fw::ReadWholeFile(name, kMaxMemoFile);
  if (!read) {
    ShowMessage(L"メモを開けませんでした。\n\n" + SystemMessage(GetLastError()) + L"\n" + name, MB_ICONERROR);
    return false;
  }
  const std::string& bytes = *read;
  if (bytes.size() < sizeof kMemoSignature || !std::equal(kMemoSignature, kMemoSignature + sizeof kMemoSignature, bytes.begin())) {
    ShowMessage(L"メモを開けませんでした。\n\nZanQuilmo4 のメモファイルではありません。\n" + name, MB_ICONERROR);
    return false;
  }
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size() - sizeof kMemoSignature + 1);
  char* target = memory ? static_cast<char*>(GlobalLock(memory)) : nullptr;
  if (!target) {
    if (memory) GlobalFree(memory);
    throw std::bad_alloc();
  }
  std::copy(bytes.begin() + sizeof kMemoSignature, bytes.end(), target);
  GlobalUnlock(memory);
  fw::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, stream.put()))) {
    GlobalFree(memory);
    throw std::bad_alloc();
  }
  ULARGE_INTEGER size;
  size.QuadPart = bytes.size() - sizeof kMemoSignature;
  stream->SetSize(size);
  // A control made for the memo; it replaces the old one only when the memo loaded.
  fw::OleControl* old = memo_;
  fw::ComPtr<IZanQuilmoAx4> oldApi = api_;
  memo_ = nullptr;
  api_.reset();
  HRESULT hr = E_FAIL;
  try {
    CreateMemo();
    fw::ComPtr<IPersistStreamInit> persist;
    hr = memo_->Object()->QueryInterface(IID_IPersistStreamInit, persist.put_void());
    if (SUCCEEDED(hr)) hr = persist->Load(stream.get());
  } catch (...) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    if (memo_) RemoveControl(memo_);
    memo_ = old;
    api_ = oldApi;
    ShowFailure(L"メモを開けませんでした。", hr);
    return false;
  }
  RemoveControl(old);
  // The memo brings its own settings; the menu shows them.
  LONG enabled = 1;
  TxActiveFormBorderStyle border = afbSingle;
  TxCtrlAlign align = alAutomatic;
  api_->get_DrawEnabled(&enabled);
  api_->get_AxBorderStyle(&border);
  api_->get_DrawAreaAlign(&align);
  drawEnabled_ = enabled != 0;
  border_ = kCmdBorderNone + static_cast<UINT>(border);
  fixedArea_ = align == alManual;
  if (fixedArea_) {
    LONG w = 0, h = 0;
    api_->get_DrawAreaWidth(&w);
    api_->get_DrawAreaHeight(&h);
    areaWidth_ = w;
    areaHeight_ = h;
  }
  menu_.SetChecked(kCmdDrawEnabled, drawEnabled_);
  menu_.SetRadio(kCmdBorderNone, kCmdBorderRaised, border_);
  menu_.SetRadio(kCmdAreaAutomatic, kCmdAreaFixed, fixedArea_ ? kCmdAreaFixed : kCmdAreaAutomatic);
  UpdateStatus();
  return true;
}

void DemoWindow::OpenFromCommandLine(const std::wstring& name) {
  const auto dot = name.find_last_of(L'.');
  const std::wstring ext = dot == std::wstring::npos ? L"" : name.substr(dot);
  if (_wcsicmp(ext.c_str(), L".zqm") == 0) OpenMemo(name);
  else OpenImage(name, false);
}

// ---- clipboard ----

void DemoWindow::CopyPicture() {
  fw::ComPtr<IPictureDisp> disp;
  fw::ComPtr<IPicture> picture;
  HRESULT hr = api_->get_Picture(disp.put());
  if (SUCCEEDED(hr)) hr = disp ? disp.As(picture) : E_POINTER;
  OLE_HANDLE handle = 0;
  if (SUCCEEDED(hr)) hr = picture->get_Handle(&handle);
  if (FAILED(hr)) {
    ShowFailure(L"画像をコピーできませんでした。", hr);
    return;
  }
  HBITMAP copy = static_cast<HBITMAP>(
      CopyImage(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), IMAGE_BITMAP, 0, 0, 0));
  if (!copy || !SetClipboard(Handle(), CF_BITMAP, copy)) {
    if (copy) DeleteObject(copy);
    ShowMessage(L"画像をコピーできませんでした。\n\nクリップボードを使えません。", MB_ICONERROR);
  }
}

void DemoWindow::PastePicture() {
  if (!IsClipboardFormatAvailable(CF_BITMAP)) {
    ShowMessage(L"クリップボードに画像がありません。", MB_ICONINFORMATION);
    return;
  }
  HBITMAP copy = nullptr;
  if (OpenClipboard(Handle())) {
    if (HANDLE b = GetClipboardData(CF_BITMAP)) copy = static_cast<HBITMAP>(CopyImage(b, IMAGE_BITMAP, 0, 0, 0));
    CloseClipboard();
  }
  if (!copy) {
    ShowMessage(L"画像を貼り付けられませんでした。\n\nクリップボードの画像を読めません。", MB_ICONERROR);
    return;
  }
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = copy;
  fw::ComPtr<IPictureDisp> picture;
  HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void());
  if (FAILED(hr)) {
    DeleteObject(copy);
    ShowFailure(L"画像を貼り付けられませんでした。", hr);
    return;
  }
  hr = api_->putref_Picture(picture.get());
  UpdateStatus();
  if (FAILED(hr)) ShowFailure(L"画像を貼り付けられませんでした。", hr);
}

bool DemoWindow::CopyBase64() {
  fw::BStr text;
  const HRESULT hr = api_->get_PngImageBase64(text.put());
  if (FAILED(hr) || SysStringLen(text.get()) == 0) {
    ShowFailure(L"Base64 テキストを作れませんでした。", FAILED(hr) ? hr : E_FAIL);
    return false;
  }
  const std::size_t chars = SysStringLen(text.get());
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (chars + 1) * sizeof(wchar_t));
  wchar_t* p = memory ? static_cast<wchar_t*>(GlobalLock(memory)) : nullptr;
  if (!p) {
    if (memory) GlobalFree(memory);
    throw std::bad_alloc();
  }
  std::copy(text.get(), text.get() + chars, p);
  p[chars] = L'\0';
  GlobalUnlock(memory);
  if (!SetClipboard(Handle(), CF_UNICODETEXT, memory)) {
    GlobalFree(memory);
    ShowMessage(L"Base64 テキストをコピーできませんでした。\n\nクリップボードを使えません。", MB_ICONERROR);
    return false;
  }
  return true;
}

void DemoWindow::PasteBase64() {
  std::wstring text;
  if (OpenClipboard(Handle())) {
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
      if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(h))) {
        text.assign(p, wcsnlen(p, GlobalSize(h) / sizeof(wchar_t)));
        GlobalUnlock(h);
      }
    }
    CloseClipboard();
  }
  if (text.empty()) {
    ShowMessage(L"クリップボードにテキストがありません。", MB_ICONINFORMATION);
    return;
  }
  fw::BStr value(text);
  const HRESULT hr = api_->put_PngImageBase64(value.get());
  UpdateStatus();
  if (FAILED(hr)) ShowFailure(L"Base64 テキストを貼り付けられませんでした。", hr);
}

// ---- settings ----

void DemoWindow::SetDrawEnabled(bool on) {
  const HRESULT hr = api_->put_DrawEnabled(on ? 1 : 0);
  if (FAILED(hr)) {
    ShowFailure(L"描画の設定を変えられませんでした。", hr);
    return;
  }
  drawEnabled_ = on;
  menu_.SetChecked(kCmdDrawEnabled, on);
  UpdateStatus();
}

void DemoWindow::SetBorder(UINT command) {
  const HRESULT hr = api_->put_AxBorderStyle(static_cast<TxActiveFormBorderStyle>(command - kCmdBorderNone));
  if (FAILED(hr)) {
    ShowFailure(L"枠線を変えられませんでした。", hr);
    return;
  }
  border_ = command;
  menu_.SetRadio(kCmdBorderNone, kCmdBorderRaised, command);
}

void DemoWindow::SetAutomaticArea() {
  const HRESULT hr = api_->put_DrawAreaAlign(alAutomatic);
  if (FAILED(hr)) {
    ShowFailure(L"描画領域を変えられませんでした。", hr);
    return;
  }
  fixedArea_ = false;
  menu_.SetRadio(kCmdAreaAutomatic, kCmdAreaFixed, kCmdAreaAutomatic);
  UpdateStatus();
}

namespace {

struct AreaRequest {
  int width, height;
};

INT_PTR CALLBACK AreaDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      const auto* r = reinterpret_cast<AreaRequest*>(lp);
      SetDlgItemInt(dlg, IDC_AREA_WIDTH, static_cast<UINT>(r->width), FALSE);
      SetDlgItemInt(dlg, IDC_AREA_HEIGHT, static_cast<UINT>(r->height), FALSE);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) {
        auto* r = reinterpret_cast<AreaRequest*>(GetWindowLongPtrW(dlg, DWLP_USER));
        BOOL okW = FALSE, okH = FALSE;
        const int w = static_cast<int>(GetDlgItemInt(dlg, IDC_AREA_WIDTH, &okW, TRUE));
        const int h = static_cast<int>(GetDlgItemInt(dlg, IDC_AREA_HEIGHT, &okH, TRUE));
        if (!okW || !okH) {
          MessageBoxW(dlg, L"幅と高さは数字で入力してください。", L"描画領域", MB_OK | MB_ICONWARNING);
          return TRUE;
        }
        r->width = w;
        r->height = h;
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

void DemoWindow::AskFixedArea() {
  LONG w = areaWidth_, h = areaHeight_;
  api_->get_DrawAreaWidth(&w);
  api_->get_DrawAreaHeight(&h);
  AreaRequest r{static_cast<int>(w), static_cast<int>(h)};
  if (DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_AREA), Handle(), AreaDialogProc,
                      reinterpret_cast<LPARAM>(&r)) != IDOK)
    return;
  // The control refuses sizes it cannot hold and says why; the old size stays then.
  HRESULT hr = api_->put_DrawAreaAlign(alManual);
  if (SUCCEEDED(hr)) hr = api_->put_DrawAreaWidth(r.width);
  if (SUCCEEDED(hr)) hr = api_->put_DrawAreaHeight(r.height);
  if (FAILED(hr)) {
    ShowFailure(L"描画領域の大きさを変えられませんでした。", hr);
  } else {
    areaWidth_ = r.width;
    areaHeight_ = r.height;
  }
  TxCtrlAlign align = alAutomatic;
  api_->get_DrawAreaAlign(&align);
  fixedArea_ = align == alManual;
  menu_.SetRadio(kCmdAreaAutomatic, kCmdAreaFixed, fixedArea_ ? kCmdAreaFixed : kCmdAreaAutomatic);
  UpdateStatus();
}

void DemoWindow::ShowAbout() {
  std::wstring how;
  switch (activation_) {
    case Activation::Registered: how = L"登録されたコントロールを使っています。"; break;
    case Activation::Manifest: how = L"コントロールを登録せずに、マニフェストで使っています。"; break;
    case Activation::Module: how = L"コントロールを登録せずに、同じフォルダーのモジュールから使っています。"; break;
  }
  ShowMessage(std::wstring(kTitle) + L" デモ\nバージョン " ZQ_VERSION_TEXT L"\n\n" + how + L"\n" + folder_,
              MB_ICONINFORMATION);
}

bool DemoWindow::ConfirmDiscard() {
  fw::ComPtr<IPersistStreamInit> persist;
  if (!memo_ || FAILED(memo_->Object()->QueryInterface(IID_IPersistStreamInit, persist.put_void())) ||
      persist->IsDirty() != S_OK)
    return true;
  return MessageBoxW(HandleIfAllocated(), L"このメモは保存されていません。\n保存せずに閉じてもよろしいですか？", kTitle,
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// The control keeps whether anything changed since it was last saved; a save of the
// drawing as an image counts too, so its flag is cleared through a save nobody keeps.
void DemoWindow::MarkSaved() {
  fw::ComPtr<IPersistStreamInit> persist;
  fw::ComPtr<IStream> scratch;
  if (SUCCEEDED(memo_->Object()->QueryInterface(IID_IPersistStreamInit, persist.put_void())) &&
      SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, scratch.put())))
    persist->Save(scratch.get(), TRUE);
}

void DemoWindow::UpdateStatus() {
  if (!status_ || !api_) return;
  LONG w = 0, h = 0, enabled = 1;
  api_->get_DrawAreaWidth(&w);
  api_->get_DrawAreaHeight(&h);
  api_->get_DrawEnabled(&enabled);
  std::wstring text = L"描画領域 " + std::to_wstring(w) + L" × " + std::to_wstring(h) + L" ピクセル（" +
                      (fixedArea_ ? L"固定" : L"ウィンドウに合わせる") + L"）";
  if (!enabled) text += L"　描画しない";
  switch (activation_) {
    case Activation::Registered: text += L"　登録済みのコントロール"; break;
    case Activation::Manifest: text += L"　登録なし（マニフェスト）"; break;
    case Activation::Module: text += L"　登録なし（同じフォルダーのモジュール）"; break;
  }
  if (text != status_->Text()) status_->SetText(text);
}

void DemoWindow::ShowFailure(const std::wstring& what, HRESULT hr) {
  std::wstring detail;
  fw::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    fw::BStr description;
    if (SUCCEEDED(info->GetDescription(description.put()))) detail = description.str();
  }
  if (detail.empty()) detail = SystemMessage(static_cast<DWORD>(hr));
  wchar_t code[16];
  swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  ShowMessage(what + L"\n\n" + detail + L" (" + code + L")", MB_ICONERROR);
}

void DemoWindow::ShowMessage(const std::wstring& text, UINT icon) {
  MessageBoxW(HandleIfAllocated(), text.c_str(), kTitle, MB_OK | icon);
}

}  // namespace zq::demo
