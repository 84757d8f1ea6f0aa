/// \file view_command.cpp  Starting the viewer: checks, the session, the server, the browser.
#include "viewer/view_command.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig.h>
#include <quorlen/session.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "viewer/http_server.h"
#include "viewer/viewer_state.h"

extern char** environ;

namespace quorlen::viewer {

namespace {

// The desktop's browser, through xdg-open, quietly: a machine without one still serves the address printed.
void open_browser(const std::string& url, const std::function<void(const std::string&)>& warn) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    warn("no browser could be opened (xdg-open is missing); open the address above");
    return;
  }
  // Reaped in the background; whether a browser came up is for the user to see.
  std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

}  // namespace

void run_view(const ViewRequest& request, const DD::Image::Op::Description& description, std::ostream& out,
              const std::function<void(const std::string&)>& warn) {
  keep_freed_memory();
  std::vector<std::string> warnings;
  const hosting::NodeSettings& given = request.render.settings;
  // The settings in the file's form, one light or a rig, with the --set values written into them; checked
  // whole when the viewer's state is made from them.
  nlohmann::json settings = nlohmann::json::object();
  if (given.settings_file) settings = hosting::read_settings_file(*given.settings_file);
  if (given.values) settings.update(*given.values);
  settings = settings_with_sets(description, std::move(settings), given.sets);

  // The inputs are read as the settings say (their light space and normal encoding); the knobs are the
  // viewer's. The paths the buttons write to must not be the files the view is made from.
  const hosting::PassReading reading = hosting::pass_reading(request.render, 0);
  hosting::RenderRequest inputs_only = request.render;
  inputs_only.settings = hosting::NodeSettings{};
  inputs_only.light_space = reading.light_space;
  inputs_only.normal_encoding = reading.normal_encoding;
  inputs_only.normal_space = reading.normal_space;
  inputs_only.normal_flip = reading.normal_flip;
  if (request.output && given.settings_file) {
    const hosting::FrameSources sources = hosting::resolve_sources(request.render, 0, nullptr);
    hosting::refuse_output_target(request.render, sources, 0, *request.output, false);
  }
  auto session = hosting::open_session(inputs_only, description, {request.output, request.save}, warnings);
  for (const auto& w : warnings) warn(w);

  ViewSetup setup;
  setup.output = request.output;
  setup.save = request.save;
  setup.input_arguments = request.input_arguments;
  setup.settings = std::move(settings);
  setup.settings_path = given.settings_file;
  setup.settings_as_file = given.sets.empty() && !given.values;
  setup.request = request.render;
  ViewerState state(std::move(session), reading, std::move(setup));
  HttpServer server(state, request.port, random_token());
  out << "quorlen: viewing at " << server.url() << std::endl;
  if (!out) throw hosting::output_error("cannot write to standard output");
  if (request.open_browser) open_browser(server.url(), warn);
  server.run();
}

}  // namespace quorlen::viewer
