/// \file open_session.cpp  A session made from the same request a render takes.
#include <quorlen/images.h>
#include <quorlen/session.h>

namespace quorlen::hosting {

std::unique_ptr<Session> open_session(const RenderRequest& request,
                                      const DD::Image::Op::Description& description,
                                      const SessionTargets& targets, std::vector<std::string>& warnings) {
  const FrameSources sources = resolve_sources(request, 0, nullptr);
  if (targets.image) {
    refuse_output_target(request, sources, 0, *targets.image, false);
    check_output_path(*targets.image);
  }
  if (targets.settings) refuse_output_target(request, sources, 0, *targets.settings, true);
  auto session = std::make_unique<Session>(description);
  session->node().apply(request.settings);
  session->read_inputs(sources, warnings);
  return session;
}

}  // namespace quorlen::hosting
