/// \file view_command.cpp  Starting the viewer: checks, the session, the server, the browser.
#include "viewer/view_command.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>
#include <quorlen/images.h>
#include <quorlen/rig.h>
#include <quorlen/session.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

  // The shot: --frames with patterns in the paths, as render takes them, opened at --frame.
  hosting::RenderRequest checked = request.render;
  // The view writes no sequence: only the inputs' patterns are checked against --frames.
  checked.output = request.render.frames ? "view.####.exr" : "view.exr";
  hosting::frames_of(checked);
  std::vector<int> shot =
      request.render.frames ? request.render.frames->frames() : std::vector<int>{request.frame.value_or(0)};
  const int frame = request.frame.value_or(shot.front());
  if (std::find(shot.begin(), shot.end(), frame) == shot.end())
    throw hosting::usage_error(fmt::format("--frame {} is not a frame of --frames (frames {})", frame,
                                           hosting::describe_frames(shot)));

  // The inputs are read as the settings say (their light space and normal encoding); the knobs are the
  // viewer's. The paths the buttons write to must not be the files the view is made from.
  const hosting::PassReading reading = hosting::pass_reading(request.render, frame);
  hosting::RenderRequest inputs_only = request.render;
  inputs_only.settings = hosting::NodeSettings{};
  inputs_only.light_space = reading.light_space;
  inputs_only.normal_encoding = reading.normal_encoding;
  inputs_only.normal_space = reading.normal_space;
  inputs_only.normal_flip = reading.normal_flip;
  const hosting::FrameSources sources = hosting::resolve_sources(request.render, frame, nullptr);
  if (request.output) {
    hosting::refuse_output_target(request.render, sources, frame, *request.output, false);
    hosting::check_output_path(*request.output);
  }
  if (request.save) hosting::refuse_output_target(request.render, sources, frame, *request.save, true);
  const auto read_frame = [inputs_only, &description](int f, std::vector<std::string>& warned) {
    auto session = std::make_unique<hosting::Session>(description);
    session->read_inputs(hosting::resolve_sources(inputs_only, f, nullptr), warned);
    return session;
  };
  auto session = read_frame(frame, warnings);
  for (const auto& w : warnings) warn(w);

  ViewSetup setup;
  setup.output = request.output;
  setup.save = request.save;
  setup.input_arguments = request.input_arguments;
  setup.settings = std::move(settings);
  setup.settings_path = given.settings_file;
  setup.settings_as_file = given.sets.empty() && !given.values;
  setup.request = request.render;
  setup.frames = shot;
  setup.frame = frame;
  // Without --frames every frame reads the same files.
  if (request.render.frames)
    setup.read_frame = [read_frame, warn](int f, std::vector<std::string>& warned) {
      auto s = read_frame(f, warned);
      for (const auto& w : warned) warn(w);
      return s;
    };
  ViewerState state(std::move(session), reading, std::move(setup));
  HttpServer server(state, request.port, random_token());
  out << "quorlen: viewing at " << server.url() << std::endl;
  if (!out) throw hosting::output_error("cannot write to standard output");
  if (request.open_browser) open_browser(server.url(), warn);
  server.run();
}

}  // namespace quorlen::viewer
