// The Linux folder picker's fallbacks: zenity and kdialog, replaced by scripts on PATH
// that record their arguments and answer as the real tools do. No portal is reachable
// (the session bus address points nowhere), so the fallbacks are what runs.
#include "ui/linux/folder_picker_gio.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"
#include "ui/folder_choice.h"

namespace brisal {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class FolderPickerTest : public ::testing::Test {
 protected:
  FolderPickerTest()
      : system_path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin"),
        path_("PATH", bin.path()),
        bus_("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bin.Sub("no-bus-here")) {}

  // A fake tool: records its arguments one a line in <name>.args, prints `output` and
  // exits with `status`.
  void FakeTool(const std::string& name, const std::string& output, int status) {
    const std::string script = bin.Sub(name);
    WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + bin.Sub(name + ".args") +
                          "'\nprintf '%s' '" + output + "'\nexit " + std::to_string(status) + "\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  }
  std::string Args(const std::string& name) { return ReadFile(bin.Sub(name + ".args")); }

  TempDir bin;
  const std::string system_path;
  ScopedEnv path_;
  ScopedEnv bus_;
};

TEST_F(FolderPickerTest, ZenityAnswerIsTheFolderWithoutItsNewline) {
  FakeTool("zenity", "/home/ana/Juegos Brisal/ñandú\n", 0);
  FakeTool("kdialog", "/no/debe/usarse\n", 0);
  std::string chosen;
  EXPECT_EQ(PickFolderOnDesktop(kFolderPickerTitle, "", chosen), PickOutcome::kChosen);
  EXPECT_EQ(chosen, "/home/ana/Juegos Brisal/ñandú");
  EXPECT_EQ(Args("zenity"),
            "--file-selection\n--directory\n"
            "--title=Elige la carpeta donde se instalará Brisal Ascent\n");
  EXPECT_EQ(Args("kdialog"), "<missing>");
}

TEST_F(FolderPickerTest, CancelInZenityIsFinal) {
  FakeTool("zenity", "", 1);
  FakeTool("kdialog", "/no/debe/usarse\n", 0);
  std::string chosen = "sin tocar";
  EXPECT_EQ(PickFolderWithDialogTool(kFolderPickerTitle, chosen), PickOutcome::kCancelled);
  EXPECT_EQ(chosen, "sin tocar");
  EXPECT_EQ(Args("kdialog"), "<missing>");

  // An empty answer with status 0 is no folder either.
  FakeTool("zenity", "\n", 0);
  EXPECT_EQ(PickFolderWithDialogTool(kFolderPickerTitle, chosen), PickOutcome::kCancelled);
  EXPECT_EQ(chosen, "sin tocar");
}

TEST_F(FolderPickerTest, KdialogWhenZenityIsMissingOrCannotShow) {
  FakeTool("kdialog", "/srv/juegos\n", 0);
  std::string chosen;
  EXPECT_EQ(PickFolderWithDialogTool(kFolderPickerTitle, chosen), PickOutcome::kChosen);
  EXPECT_EQ(chosen, "/srv/juegos");
  const std::string args = Args("kdialog");
  EXPECT_EQ(args.rfind("--title\nElige la carpeta donde se instalará Brisal Ascent\n"
                       "--getexistingdirectory\n",
                       0),
            0u)
      << args;

  // zenity present but unable to open a window (its status 255).
  FakeTool("zenity", "", 255);
  FakeTool("kdialog", "/srv/otra\n", 0);
  EXPECT_EQ(PickFolderWithDialogTool(kFolderPickerTitle, chosen), PickOutcome::kChosen);
  EXPECT_EQ(chosen, "/srv/otra");
}

TEST_F(FolderPickerTest, NothingToShowAPickerWith) {
  std::string chosen = "sin tocar";
  EXPECT_EQ(PickFolderOnDesktop(kFolderPickerTitle, "", chosen), PickOutcome::kUnavailable);
  EXPECT_EQ(chosen, "sin tocar");
}

// A desktop portal of our own on a private session bus: it answers OpenFile the way
// xdg-desktop-portal does (the request handle, then a Response signal on it).
namespace portal_fake {

constexpr char kIntrospection[] =
    "<node><interface name='org.freedesktop.portal.FileChooser'>"
    "<method name='OpenFile'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface></node>";

struct Portal {
  guint32 response = 0;
  std::string uri;
  // What the launcher asked for.
  std::string parent;
  std::string title;
  bool directory = false;
};

void OnMethodCall(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                  const gchar*, GVariant* parameters, GDBusMethodInvocation* invocation,
                  gpointer data) {
  auto* portal = static_cast<Portal*>(data);
  const gchar* parent = nullptr;
  const gchar* title = nullptr;
  GVariant* options_raw = nullptr;
  g_variant_get(parameters, "(&s&s@a{sv})", &parent, &title, &options_raw);
  portal->parent = parent;
  portal->title = title;
  gboolean directory = FALSE;
  g_variant_lookup(options_raw, "directory", "b", &directory);
  portal->directory = directory;
  const gchar* token = "t";
  g_variant_lookup(options_raw, "handle_token", "&s", &token);
  std::string caller = sender + 1;
  for (char& c : caller)
    if (c == '.') c = '_';
  const std::string handle = "/org/freedesktop/portal/desktop/request/" + caller + "/" + token;
  g_variant_unref(options_raw);
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));

  GVariantBuilder results;
  g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
  if (!portal->uri.empty()) {
    const gchar* uris[] = {portal->uri.c_str(), nullptr};
    g_variant_builder_add(&results, "{sv}", "uris", g_variant_new_strv(uris, -1));
  }
  g_dbus_connection_emit_signal(connection, sender, handle.c_str(),
                                "org.freedesktop.portal.Request", "Response",
                                g_variant_new("(ua{sv})", portal->response, &results), nullptr);
}

}  // namespace portal_fake

class PortalPickerTest : public FolderPickerTest {
 protected:
  bool HaveBusDaemon() const {
    const ScopedEnv path("PATH", system_path);
    gchar* found = g_find_program_in_path("dbus-daemon");
    g_free(found);
    return found != nullptr;
  }

  // Brings up a private bus with the fake portal on it, runs `pick` against it, and
  // takes everything down again.
  PickOutcome PickWithPortal(portal_fake::Portal& portal, std::string& chosen) {
    GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    {
      const ScopedEnv path("PATH", system_path);
      g_test_dbus_up(bus);
    }
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    EXPECT_NE(connection, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(portal_fake::kIntrospection, nullptr);
    const GDBusInterfaceVTable vtable{portal_fake::OnMethodCall, nullptr, nullptr, {}};
    const guint object =
        g_dbus_connection_register_object(connection, "/org/freedesktop/portal/desktop",
                                          node->interfaces[0], &vtable, &portal, nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 0u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    EXPECT_NE(owned, nullptr);
    if (owned != nullptr) g_variant_unref(owned);

    // The portal answers on this thread's context while the picker waits on another.
    std::atomic<bool> done{false};
    PickOutcome outcome = PickOutcome::kUnavailable;
    std::thread picker([&] {
      outcome = PickFolderOnDesktop(kFolderPickerTitle, "x11:2a0001c", chosen);
      done = true;
    });
    while (!done)
      g_main_context_iteration(context, FALSE);
    picker.join();

    g_dbus_connection_unregister_object(connection, object);
    g_dbus_node_info_unref(node);
    g_object_unref(connection);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_test_dbus_down(bus);
    g_object_unref(bus);
    return outcome;
  }
};

TEST_F(PortalPickerTest, PortalAnswerIsTheChosenFolder) {
  if (!HaveBusDaemon()) GTEST_SKIP() << "dbus-daemon is not installed";
  FakeTool("zenity", "/no/debe/usarse\n", 0);
  portal_fake::Portal portal;
  portal.uri = "file:///srv/juegos%20brisal/%C3%B1";
  std::string chosen;
  EXPECT_EQ(PickWithPortal(portal, chosen), PickOutcome::kChosen);
  EXPECT_EQ(chosen, "/srv/juegos brisal/ñ");
  EXPECT_EQ(portal.title, "Elige la carpeta donde se instalará Brisal Ascent");
  EXPECT_EQ(portal.parent, "x11:2a0001c");
  EXPECT_TRUE(portal.directory);
  EXPECT_EQ(Args("zenity"), "<missing>");
}

TEST_F(PortalPickerTest, CancelInThePortalIsFinalButAFailingPortalFallsBack) {
  if (!HaveBusDaemon()) GTEST_SKIP() << "dbus-daemon is not installed";
  FakeTool("zenity", "/srv/desde-zenity\n", 0);
  portal_fake::Portal cancelled;
  cancelled.response = 1;
  std::string chosen = "sin tocar";
  EXPECT_EQ(PickWithPortal(cancelled, chosen), PickOutcome::kCancelled);
  EXPECT_EQ(chosen, "sin tocar");
  EXPECT_EQ(Args("zenity"), "<missing>");

  portal_fake::Portal broken;
  broken.response = 2;  // e.g. no file chooser backend for this desktop
  EXPECT_EQ(PickWithPortal(broken, chosen), PickOutcome::kChosen);
  EXPECT_EQ(chosen, "/srv/desde-zenity");
}

}  // namespace
}  // namespace brisal
