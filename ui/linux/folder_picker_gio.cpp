#include "ui/linux/folder_picker_gio.h"

#include <gio/gio.h>

#include <memory>
#include <vector>

#include "core/free_with.h"

namespace brisal {
namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
// The portal is started on demand by the bus, which can take a while on a cold
// session; the player's own time with the picker open is not limited.
constexpr int kPortalCallTimeoutMs = 30000;
// The portal's Response codes.
constexpr guint32 kResponseChosen = 0;
constexpr guint32 kResponseCancelled = 1;

using Connection = OwningPtr<GDBusConnection, g_object_unref>;
using Variant = OwningPtr<GVariant, g_variant_unref>;
using Error = OwningPtr<GError, g_error_free>;
using OwnedText = OwningPtr<gchar, g_free>;

// Signal callbacks run on the context that was the thread's default when they were
// subscribed; a context of our own keeps them off any main loop the program may run.
class ThreadContext {
 public:
  ThreadContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
  ~ThreadContext() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;
  GMainContext* get() const { return context_; }

 private:
  GMainContext* context_;
};

class Subscription {
 public:
  Subscription(GDBusConnection* connection, guint id) : connection_(connection), id_(id) {}
  ~Subscription() {
    if (id_ != 0) g_dbus_connection_signal_unsubscribe(connection_, id_);
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

 private:
  GDBusConnection* connection_;
  guint id_;
};

struct PortalWait {
  bool done = false;
  PickOutcome outcome = PickOutcome::kUnavailable;
  std::string chosen;
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
  auto* wait = static_cast<PortalWait*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
  guint32 response = 0;
  GVariant* results_raw = nullptr;
  g_variant_get(parameters, "(u@a{sv})", &response, &results_raw);
  const Variant results(results_raw);
  wait->done = true;
  if (response == kResponseCancelled) {
    wait->outcome = PickOutcome::kCancelled;
    return;
  }
  // Any other code means the portal could not show a picker (no backend for this
  // desktop, for one): the dialog tools may still work.
  if (response != kResponseChosen) return;

  // An answer without a local folder in it changes nothing, like a cancel.
  wait->outcome = PickOutcome::kCancelled;
  const gchar** uris = nullptr;
  if (!g_variant_lookup(results.get(), "uris", "^a&s", &uris) || uris == nullptr) return;
  if (uris[0] != nullptr) {
    GError* error_raw = nullptr;
    const OwnedText path(g_filename_from_uri(uris[0], nullptr, &error_raw));
    const Error error(error_raw);
    if (path && path.get()[0] != '\0') {
      wait->chosen = path.get();
      wait->outcome = PickOutcome::kChosen;
    }
  }
  g_free(uris);
}

// The portal service went away while its picker was open: no answer will come.
void OnPortalOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
  auto* wait = static_cast<PortalWait*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
  const gchar* new_owner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &new_owner);
  if (new_owner != nullptr && new_owner[0] == '\0') {
    wait->done = true;
    wait->outcome = PickOutcome::kUnavailable;
  }
}

guint SubscribeResponse(GDBusConnection* connection, const std::string& handle, PortalWait& wait) {
  return g_dbus_connection_signal_subscribe(
      connection, kPortalName, "org.freedesktop.portal.Request", "Response", handle.c_str(),
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, &wait, nullptr);
}

// Runs one dialog tool. Exit status 0 with a path on standard output is a choice,
// 1 is a cancel; anything else (not installed, no display, crashed) means the next
// tool may be tried.
PickOutcome RunDialogTool(const std::vector<std::string>& argv, std::string& chosen) {
  std::vector<gchar*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<gchar*>(arg.c_str()));
  args.push_back(nullptr);

  gchar* output_raw = nullptr;
  gint wait_status = 0;
  GError* error_raw = nullptr;
  const gboolean spawned =
      g_spawn_sync(nullptr, args.data(), nullptr,
                   static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                   nullptr, nullptr, &output_raw, nullptr, &wait_status, &error_raw);
  const OwnedText output(output_raw);
  Error error(error_raw);
  if (!spawned) return PickOutcome::kUnavailable;

  error_raw = nullptr;
  const bool exited_zero = g_spawn_check_wait_status(wait_status, &error_raw);
  error.reset(error_raw);
  if (!exited_zero) {
    const bool cancelled = error && error->domain == G_SPAWN_EXIT_ERROR && error->code == 1;
    return cancelled ? PickOutcome::kCancelled : PickOutcome::kUnavailable;
  }
  std::string path = output ? output.get() : "";
  // The tools end the path with one newline; anything before it belongs to the name.
  if (!path.empty() && path.back() == '\n') path.pop_back();
  if (path.empty()) return PickOutcome::kCancelled;
  chosen = path;
  return PickOutcome::kChosen;
}

}  // namespace

PickOutcome PickFolderWithPortal(const std::string& title, const std::string& parent_window,
                                 std::string& chosen) {
  GError* error_raw = nullptr;
  const OwnedText address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error_raw));
  Error error(error_raw);
  // Without a session bus GIO would start a new one through dbus-launch, where no
  // portal listens; the dialog tools are the better bet then.
  if (!address || g_str_has_prefix(address.get(), "autolaunch:")) return PickOutcome::kUnavailable;

  ThreadContext context;
  error_raw = nullptr;
  // A private connection: its subscriptions and its end belong to this call alone.
  const Connection connection(g_dbus_connection_new_for_address_sync(
      address.get(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error_raw));
  error.reset(error_raw);
  if (!connection) return PickOutcome::kUnavailable;

  // The portal names the request object after our bus name and a token of ours, so
  // the answer can be listened for before the call is made and cannot be missed.
  std::string sender = g_dbus_connection_get_unique_name(connection.get());
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  const std::string token = "brisal_folder";
  std::string handle = std::string(kPortalPath) + "/request/" + sender + "/" + token;

  PortalWait wait;
  auto response = std::make_unique<Subscription>(connection.get(),
                                                 SubscribeResponse(connection.get(), handle, wait));
  const Subscription owner(connection.get(),
                           g_dbus_connection_signal_subscribe(
                               connection.get(), "org.freedesktop.DBus", "org.freedesktop.DBus",
                               "NameOwnerChanged", "/org/freedesktop/DBus", kPortalName,
                               G_DBUS_SIGNAL_FLAGS_NONE, OnPortalOwnerChanged, &wait, nullptr));

  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "directory", g_variant_new_boolean(TRUE));
  g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
  error_raw = nullptr;
  const Variant reply(g_dbus_connection_call_sync(
      connection.get(), kPortalName, kPortalPath, "org.freedesktop.portal.FileChooser", "OpenFile",
      g_variant_new("(ssa{sv})", parent_window.c_str(), title.c_str(), &options),
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kPortalCallTimeoutMs, nullptr, &error_raw));
  error.reset(error_raw);
  if (!reply) return PickOutcome::kUnavailable;

  const gchar* returned = nullptr;
  g_variant_get(reply.get(), "(&o)", &returned);
  // Portals older than the handle_token option choose the object path themselves.
  if (returned != nullptr && handle != returned) {
    handle = returned;
    response = std::make_unique<Subscription>(connection.get(),
                                              SubscribeResponse(connection.get(), handle, wait));
  }

  while (!wait.done)
    g_main_context_iteration(context.get(), TRUE);
  if (wait.outcome == PickOutcome::kChosen) chosen = wait.chosen;
  return wait.outcome;
}

PickOutcome PickFolderWithDialogTool(const std::string& title, std::string& chosen) {
  const PickOutcome zenity =
      RunDialogTool({"zenity", "--file-selection", "--directory", "--title=" + title}, chosen);
  if (zenity != PickOutcome::kUnavailable) return zenity;
  const gchar* home = g_get_home_dir();
  return RunDialogTool(
      {"kdialog", "--title", title, "--getexistingdirectory", home != nullptr ? home : "/"},
      chosen);
}

PickOutcome PickFolderOnDesktop(const std::string& title, const std::string& parent_window,
                                std::string& chosen) {
  const PickOutcome portal = PickFolderWithPortal(title, parent_window, chosen);
  if (portal != PickOutcome::kUnavailable) return portal;
  return PickFolderWithDialogTool(title, chosen);
}

}  // namespace brisal
