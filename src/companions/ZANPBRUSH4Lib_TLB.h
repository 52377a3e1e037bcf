// The pressure brush and pressure eraser components as the control drives them: child
// ActiveX controls of the drawing panel whose methods are called through the interface's
// function table and whose properties are set by DISPID. A failing call throws fw::Error
// with the component's own error text.
#pragma once

#include <windows.h>

#include <string>

#include "Graphics.h"
#include "OleHost.h"
#include "ZanPBrush4_TLB.h"

namespace zq {

// The module that serves both classes, looked for beside the control's own module when
// the classes are not registered.
inline constexpr wchar_t kPBrushModule[] = L"ZanPBrush4.ocx";

class TZanPBrushCtl4 : public fw::OleControl {
 public:
  // `moduleFolder`: where the component's module lies when its class is not registered.
  TZanPBrushCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& moduleFolder);

  void SetBrushType(short medium, long option1, long option2);
  void ContinueStroke(HDC screen, HDC bitmap, long x, long y, long pressure, long extra);
  void BeginStroke(HDC screen, HDC bitmap, long x, long y, long pressure);
  void InitOptionA(long v);
  void InitOptionB(long v);
  void InitOptionC(long v);
  void InitOptionD(long v);

  void SetColor(fw::Color color);
  void SetMaxLineWidth(short width);
  void SetMagnification(short percent);
  void SetVaryLineWidth(long on);
  // A property by DISPID, for what the setters above do not cover.
  long GetLong(DISPID id);

 private:
  fw::ComPtr<IZanPBrushCtl> brush_;
};

class TZanPEraserCtl4 : public fw::OleControl {
 public:
  TZanPEraserCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& moduleFolder);

  void ContinueStroke(HDC screen, HDC bitmap, long x, long y, long pressure, long extra);
  void BeginStroke(HDC screen, HDC bitmap, long x, long y, long pressure);
  void InitOptionA(long v);
  void InitOptionB(long v);
  void InitOptionC(long v);
  void InitOptionD(long v);

  void SetMaxLineWidth(short width);
  void SetMagnification(short percent);
  void SetVaryLineWidth(long on);
  // The TextureBitmap picture: a picture of a copy of `bitmap`, or none for null or an
  // empty bitmap.
  void SetTextureBitmap(const fw::Bitmap* bitmap);
  // Whether a texture picture is set now.
  bool HasTextureBitmap();
  long GetLong(DISPID id);

 private:
  fw::ComPtr<IZanPEraserCtl> eraser_;
};

// A device context as the components take it: a 32-bit value (GDI handles are 32-bit
// values on 64-bit Windows too).
inline long DcArgument(HDC dc) { return static_cast<long>(reinterpret_cast<LONG_PTR>(dc)); }

}  // namespace zq
