/// \file view_command.cpp  Starting the viewer: checks, the session, the server, the browser.
#include "viewer/view_command.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "hosting/errors.h"
#include "hosting/images/image_writer.h"
#include "hosting/images/same_file.h"
#include "hosting/system/atomic_file.h"
#include "viewer/http_server.h"
#include "viewer/viewer_state.h"

extern char** environ;

namespace quorlen::viewer {

namespace {

// The paths the buttons write to must not be the files the view is made from.
void refuse_outputs_over_inputs(const ViewRequest& request, const hosting::FrameSources& sources) {
  for (const auto* target : {&request.output, &request.save}) {
    if (!*target) continue;
    hosting::refuse_directory_target(**target);
    if (request.render.passes)
      hosting::refuse_output_over_input(**target, *request.render.passes, "--passes");
    for (int slot = 0; slot < hosting::kInputCount; ++slot)
      if (const auto& input = sources.inputs[static_cast<std::size_t>(slot)])
        hosting::refuse_output_over_input(
            **target, input->file, std::string("--") + hosting::kInputLabels[static_cast<std::size_t>(slot)]);
    if (request.render.settings.settings_file && target == &request.output)
      hosting::refuse_output_over_input(**target, *request.render.settings.settings_file, "--settings");
  }
  if (request.output) hosting::plan_output(*request.output);
}

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
  const hosting::FrameSources sources = hosting::resolve_sources(request.render, 0, nullptr);
  refuse_outputs_over_inputs(request, sources);

  auto session = std::make_unique<hosting::Session>(description);
  session->node().apply(request.render.settings);
  std::vector<std::string> warnings;
  session->read_inputs(sources, warnings);
  for (const auto& w : warnings) warn(w);

  ViewSetup setup{request.output, request.save, request.input_arguments};
  ViewerState state(std::move(session), sources.light_space, std::move(setup));
  HttpServer server(state, request.port, random_token());
  out << "quorlen: viewing at " << server.url() << std::endl;
  if (!out) throw hosting::output_error("cannot write to standard output");
  if (request.open_browser) open_browser(server.url(), warn);
  server.run();
}

}  // namespace quorlen::viewer
