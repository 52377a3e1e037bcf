// A child ActiveX control in the control tree. The framework is its container: it creates
// the object, gives it a client site (with the ambient properties of a running form:
// user mode, the parent's colours, the user's locale), initialises it fresh, and then
// either hides it, when the object says it is invisible at run time, or activates it in
// place in the parent's window at the control's bounds. Events are received by connecting
// a sink to one of the object's connection points.
//
// The site is also the in-place frame: the object learns the top-level window it lives in,
// tells which of its parts is active (SetActiveObject), and gets the keys of the
// container's message loop first through TranslateAccelerator, as a container's loop
// should give them. The frame has no menus or tool space to share, no undo and no property
// frame; an object that needs them must do without. What the object says for the status
// line reaches OnStatusText.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

#include "Com.h"
#include "Control.h"

namespace zq::fw {

class OleControl : public Control {
 public:
  // Creates an object of class `clsid` from the registry, or, when the class is not
  // registered, through the DllGetClassObject of the in-process server `fallbackModule`
  // (a full path; empty for none). Such a module stays loaded for the life of the process.
  // Throws Error when the object cannot be made or initialised.
  OleControl(WinControl* parent, std::wstring name, const CLSID& clsid, std::wstring fallbackModule = {});
  ~OleControl() override;

  IUnknown* Object() const { return object_.get(); }
  // The object's IDispatch (its default dual interface), or null.
  IDispatch* Dispatch() const { return dispatch_.get(); }
  template <class I>
  ComPtr<I> As() const {
    ComPtr<I> p;
    object_.As(p);
    return p;
  }
  DWORD MiscStatus() const { return misc_; }
  bool InvisibleAtRunTime() const { return (misc_ & OLEMISC_INVISIBLEATRUNTIME) != 0; }
  // Where the object came from: the registry, or the fallback module.
  bool CreatedFromModule() const { return fromModule_; }
  bool InPlaceActive() const { return static_cast<bool>(inPlace_); }

  // Connects `sink` to the object's connection point for the interface `events`; the
  // connection lasts until this control goes. Throws Error.
  void Connect(REFIID events, IDispatch* sink);

  // Offers a message of the container's loop to the active object before the container
  // translates and dispatches it; true when the object used it (then it must not be
  // dispatched). Only keyboard messages are offered, as OLE asks.
  bool TranslateAccelerator(MSG& msg);
  // Makes the object UI-active, with the keyboard focus in it.
  void Focus();
  // Runs when the object puts a text in the frame's status line (empty to clear it).
  std::function<void(const std::wstring&)> OnStatusText;

  void ParentHandleCreated() override;
  void ParentHandleDestroying() override;

 protected:
  void BoundsChanged(const RECT& old) override;
  void VisibilityChanged() override;

 private:
  class Site;
  friend class Site;
  void Activate();
  void Deactivate() noexcept;
  RECT PositionInParent() const;

  ComPtr<IUnknown> object_;
  ComPtr<IOleObject> ole_;
  ComPtr<IDispatch> dispatch_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;  // what the object named active, if anything
  OrphaningRef<Site> site_;  // the client site the component holds
  DWORD misc_ = 0;
  bool fromModule_ = false;
  struct Connection {
    ComPtr<IConnectionPoint> point;
    DWORD cookie;
  };
  std::vector<Connection> connections_;
};

// Sizes in HIMETRIC (0.01 mm) and in pixels, at the screen's resolution.
SIZEL PixelsToHimetric(int width, int height);
POINT HimetricToPixels(LONG x, LONG y);

}  // namespace zq::fw
