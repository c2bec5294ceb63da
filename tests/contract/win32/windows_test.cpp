// The windows the win32 host draws for the forms: captions, control texts and classes from the
// forms' layouts, the flow of typed text into the models, and model changes into the windows.
// Wine makes windows only with an X display; without one these cases are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/ui.h"
#include "backends/win32/windows_api.h"
#include "contract/env.h"
#include "contract/win32/mirror_form.h"
#include "startup/frmPleaseWait.h"
// commctrl.h needs the types of windows.h.
#include <commctrl.h>
#include "serverset/frmServerSet.h"
#include "upgrade/frmUpgrade.h"

namespace contract {
namespace {

using updater::win32::Utf8ToWide;
using updater::win32::Win32UiHost;

struct Child {
  HWND hwnd;
  std::wstring cls;
  std::wstring text;
  bool visible;
  LONG_PTR style;
};

std::wstring TextOf(HWND hwnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(hwnd, buf, 512);
  return buf;
}

// A plain function: the 32-bit callback convention is stdcall, which a lambda cannot have.
BOOL CALLBACK CollectChild(HWND h, LPARAM p) {
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  reinterpret_cast<std::vector<Child>*>(p)->push_back(
      {h, cls, TextOf(h), IsWindowVisible(h) != FALSE, GetWindowLongPtrW(h, GWL_STYLE)});
  return TRUE;
}

std::vector<Child> ChildrenOf(HWND parent) {
  std::vector<Child> out;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

const Child* ChildWithText(const std::vector<Child>& children, const std::string& text) {
  const std::wstring wide = Utf8ToWide(text);
  auto it = std::find_if(children.begin(), children.end(),
                         [&](const Child& c) { return c.text == wide; });
  return it == children.end() ? nullptr : &*it;
}

bool SameClass(const std::wstring& a, const wchar_t* b) { return lstrcmpiW(a.c_str(), b) == 0; }

int Px(HWND hwnd, int twips) {
  HDC dc = GetDC(hwnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(hwnd, dc);
  return MulDiv(twips, dpi, 1440);
}

SIZE ClientSize(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

class Windows : public testing::Test {
 protected:
  void SetUp() override {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr) {
      GTEST_SKIP() << "no window can be made here (wine needs an X display: run under xvfb-run)";
    }
    DestroyWindow(probe);
  }

  // Lets the posted messages of the test run, as the program's loop would.
  void Pump() { host_.DoEvents(); }

  updater::Platform& pf() { return TheEnv().platform(); }
  Win32UiHost host_;
};

TEST_F(Windows, UpgradeWindowIsBuiltFromItsLayout) {
  updater::frmUpgrade real(pf());
  MirrorForm form(real);
  host_.Show(form);
  HWND w = host_.WindowOf(form);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(TextOf(w), L"自动升级程序");
  EXPECT_TRUE(IsWindowVisible(w));
  const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_EQ(ClientSize(w).cx, Px(w, 8025));
  EXPECT_EQ(ClientSize(w).cy, Px(w, 1710));

  const auto children = ChildrenOf(w);
  for (const char* text : {"服务器状态：", "正在测试服务器......", "最新程序版本：2013_01_5682    ",
                           "下载进度：", "升级进度：", "进入系统"}) {
    const Child* c = ChildWithText(children, text);
    ASSERT_NE(c, nullptr) << text;
    EXPECT_TRUE(c->visible) << text;
  }
  const Child* button = ChildWithText(children, "进入系统");
  EXPECT_TRUE(SameClass(button->cls, L"Button"));
  EXPECT_EQ(button->style & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_TRUE(SameClass(ChildWithText(children, "下载进度：")->cls, L"Static"));
  EXPECT_EQ(
      std::count_if(children.begin(), children.end(),
                    [](const Child& c) { return SameClass(c.cls, PROGRESS_CLASSW) && c.visible; }),
      2);

  // The working state exists as controls, but nobody sees it.
  EXPECT_EQ(std::count_if(children.begin(), children.end(),
                          [](const Child& c) { return c.text == L"Text1" && !c.visible; }),
            2);  // Text1 and txtUrl
  for (const char* name : {"checkStatus", "CheckServerStatus"}) {
    const Child* box = ChildWithText(children, name);
    ASSERT_NE(box, nullptr) << name;
    EXPECT_FALSE(box->visible);
    EXPECT_EQ(SendMessageW(box->hwnd, BM_GETCHECK, 0, 0),
              name[0] == 'c' ? BST_UNCHECKED : BST_CHECKED);
  }
  // Every visible control starts inside the client area (Label5 reaches past its bottom).
  for (const Child& c : children) {
    RECT r;
    GetWindowRect(c.hwnd, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    if (c.visible) {
      EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.left < ClientSize(w).cx &&
                  r.top < ClientSize(w).cy)
          << "control outside the client area: " << updater::win32::WideToUtf8(c.text);
    }
  }
  host_.Unload(form);
  EXPECT_FALSE(IsWindow(w));
}

TEST_F(Windows, ModelChangesReachTheWindowInDoEvents) {
  updater::frmUpgrade real(pf());
  MirrorForm form(real);
  host_.Show(form);
  HWND w = host_.WindowOf(form);
  ASSERT_NE(w, nullptr);
  // At first only the green lamp is lit: one small visible static without text.
  auto lamps = [&] {
    std::vector<HWND> lit;
    for (const Child& c : ChildrenOf(w)) {
      if (SameClass(c.cls, L"Static") && c.text.empty() && c.visible) lit.push_back(c.hwnd);
    }
    return lit;
  };
  ASSERT_EQ(lamps().size(), 1u);
  const HWND green = lamps()[0];

  real.Label9.Caption = "服务器连接失败";
  real.Label7.Visible = true;
  real.Label8.Visible = false;
  real.Command1.Caption = "开始升级";
  real.Command1.Enabled = false;
  real.ProgressBar1.Value = 40;
  real.ProgressBar2.Max = 200;
  real.ProgressBar2.Value = 150;
  real.List1.AddItem("服务器一");
  std::this_thread::sleep_for(std::chrono::milliseconds(60));  // past the progress interval
  host_.DoEvents();

  const auto children = ChildrenOf(w);
  EXPECT_NE(ChildWithText(children, "服务器连接失败"), nullptr);
  EXPECT_EQ(ChildWithText(children, "正在测试服务器......"), nullptr);
  const Child* button = ChildWithText(children, "开始升级");
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(IsWindowEnabled(button->hwnd));
  ASSERT_EQ(lamps().size(), 1u);
  EXPECT_NE(lamps()[0], green);

  std::vector<HWND> bars;
  for (const Child& c : children) {
    if (SameClass(c.cls, PROGRESS_CLASSW) && c.visible) bars.push_back(c.hwnd);
  }
  ASSERT_EQ(bars.size(), 2u);
  std::vector<LRESULT> positions{SendMessageW(bars[0], PBM_GETPOS, 0, 0),
                                 SendMessageW(bars[1], PBM_GETPOS, 0, 0)};
  std::sort(positions.begin(), positions.end());
  EXPECT_EQ(positions, (std::vector<LRESULT>{40, 150}));

  const auto list = std::find_if(children.begin(), children.end(),
                                 [](const Child& c) { return SameClass(c.cls, L"ListBox"); });
  ASSERT_NE(list, children.end());
  EXPECT_EQ(SendMessageW(list->hwnd, LB_GETCOUNT, 0, 0), 2);

  // The download calls DoEvents after every KiB: in such a run the windows still follow.
  for (int i = 0; i < 1000; ++i) host_.DoEvents();
  real.Label9.Caption = "服务器连接正常";
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
       std::chrono::steady_clock::now() < until;) {
    host_.DoEvents();
  }
  EXPECT_NE(ChildWithText(ChildrenOf(w), "服务器连接正常"), nullptr);
  host_.Unload(form);
}

TEST_F(Windows, ServerDialogHandsTheTypedAddressToTheClickHandler) {
  updater::frmServerSet real(pf());
  MirrorForm form(real);
  std::string seen;
  form.onClick = [&](const std::string&) { seen = real.txtUrl.Text; };
  host_.Show(form);
  HWND w = host_.WindowOf(form);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(TextOf(w), L"自动更新程序");
  EXPECT_EQ(ClientSize(w).cx, Px(w, 6510));
  EXPECT_EQ(ClientSize(w).cy, Px(w, 975));

  const auto children = ChildrenOf(w);
  ASSERT_NE(ChildWithText(children, "服务器地址："), nullptr);
  const Child* edit = ChildWithText(children, "http://");
  const Child* ok = ChildWithText(children, "确定");
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(SameClass(edit->cls, L"Edit"));
  EXPECT_FALSE(edit->style & ES_MULTILINE);
  EXPECT_EQ(ok->style & BS_TYPEMASK, BS_PUSHBUTTON);  // not the default button
  EXPECT_EQ(GetFocus(), edit->hwnd);

  // Enter in the address box presses nothing.
  PostMessageW(edit->hwnd, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(edit->hwnd, WM_KEYUP, VK_RETURN, 0);
  Pump();
  EXPECT_TRUE(form.clicks.empty());

  SetWindowTextW(edit->hwnd, L"http://更新.example:8080");
  SendMessageW(ok->hwnd, BM_CLICK, 0, 0);
  Pump();
  EXPECT_EQ(form.clicks, std::vector<std::string>{"Command1"});
  EXPECT_EQ(seen, "http://更新.example:8080");

  // A text the handler sets is shown once the handler returns.
  form.onClick = [&](const std::string&) { real.txtUrl.Text = "http://"; };
  SendMessageW(ok->hwnd, BM_CLICK, 0, 0);
  Pump();
  EXPECT_EQ(TextOf(edit->hwnd), L"http://");
  host_.Unload(form);
}

TEST_F(Windows, PleaseWaitWindowSizesItselfOnActivation) {
  updater::frmPleaseWait wait;
  wait.SetWaitMessage("正在初始化......1");
  host_.Show(wait);
  HWND w = host_.WindowOf(wait);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(TextOf(w), L"");
  EXPECT_NE(GetWindowLongPtrW(w, GWL_STYLE) & WS_CAPTION, WS_CAPTION);  // no caption bar
  // 2 x 780 + 3360 twips wide once activated, with the label moved to 600.
  EXPECT_EQ(ClientSize(w).cx, Px(w, 4920));
  EXPECT_EQ(ClientSize(w).cy, Px(w, 675));
  auto children = ChildrenOf(w);
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].text, L"正在初始化......1");
  RECT r;
  GetWindowRect(children[0].hwnd, &r);
  MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, Px(w, 600));

  wait.SetWaitMessage("正在初始化......2");
  host_.DoEvents();
  EXPECT_EQ(TextOf(children[0].hwnd), L"正在初始化......2");

  // The window's area is light blue.
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  HDC dc = GetDC(w);
  const COLORREF corner = GetPixel(dc, 2, 2);
  ReleaseDC(w, dc);
  if (corner != CLR_INVALID) {
    EXPECT_EQ(corner, RGB(196, 228, 253));
  }

  host_.Unload(wait);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(wait.MousePointer, updater::frmPleaseWait::vbDefault);
}

TEST_F(Windows, LoadRunsBeforeTheWindowExists) {
  updater::frmServerSet real(pf());
  MirrorForm shown(real), dropped(real);
  bool windowDuringLoad = true;
  shown.onLoad = [&] {
    windowDuringLoad = host_.WindowOf(shown) != nullptr ||
                       FindWindowW(L"AutoUpdateForm", L"自动更新程序") != nullptr;
  };
  host_.Show(shown);
  EXPECT_FALSE(windowDuringLoad);
  EXPECT_NE(host_.WindowOf(shown), nullptr);
  host_.Unload(shown);

  // A form unloaded by its own load never gets a window.
  dropped.onLoad = [&] { host_.Unload(dropped); };
  host_.Show(dropped);
  EXPECT_EQ(host_.WindowOf(dropped), nullptr);
  EXPECT_EQ(dropped.unloads, 1);
  EXPECT_EQ(FindWindowW(L"AutoUpdateForm", L"自动更新程序"), nullptr);
}

TEST_F(Windows, ClosingAWindowUnloadsItsFormOnly) {
  updater::frmServerSet real(pf());
  MirrorForm first(real), second(real);
  host_.Show(first);
  host_.Show(second);
  HWND w1 = host_.WindowOf(first), w2 = host_.WindowOf(second);
  ASSERT_NE(w1, nullptr);
  ASSERT_NE(w2, nullptr);
  SendMessageW(w1, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.unloads, 1);
  EXPECT_FALSE(IsWindow(w1));
  EXPECT_EQ(host_.WindowOf(first), nullptr);
  EXPECT_TRUE(IsWindow(w2));
  host_.Unload(second);
  EXPECT_EQ(second.unloads, 1);
}

TEST_F(Windows, ModalFormDisablesTheOthersUntilItIsUnloaded) {
  updater::frmServerSet real(pf());
  MirrorForm behind(real);
  host_.Show(behind);
  HWND back = host_.WindowOf(behind);
  ASSERT_NE(back, nullptr);

  bool backEnabledDuringModal = true;
  int clicksSeen = 0;
  // Pressing the button is posted before the loop starts; the loop must serve it.
  struct Presser : MirrorForm {
    using MirrorForm::MirrorForm;
    Win32UiHost* host = nullptr;
    void Form_Activate() override {
      for (const Child& c : ChildrenOf(host->WindowOf(*this))) {
        if (c.text == L"确定") PostMessageW(c.hwnd, BM_CLICK, 0, 0);
      }
    }
  };
  Presser presser(real);
  presser.host = &host_;
  presser.onClick = [&](const std::string&) {
    ++clicksSeen;
    backEnabledDuringModal = IsWindowEnabled(back) != FALSE;
    host_.Unload(presser);
  };
  host_.ShowModal(presser);
  EXPECT_EQ(clicksSeen, 1);
  EXPECT_FALSE(backEnabledDuringModal);
  EXPECT_EQ(presser.unloads, 1);
  EXPECT_EQ(host_.WindowOf(presser), nullptr);
  EXPECT_TRUE(IsWindowEnabled(back));
  host_.Unload(behind);
}

}  // namespace
}  // namespace contract
