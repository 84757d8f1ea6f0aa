/// \file node_host.cpp  Creating nodes through registration records.
#include "DDImageHost/NodeHost.h"

namespace DD::Image {

/// The host's per-node handle. Operators only ever see a pointer to it.
class Node {
 public:
  explicit Node(std::string class_name) : class_name_(std::move(class_name)) {}
  const std::string& class_name() const { return class_name_; }

 private:
  std::string class_name_;
};

NodeInstance::NodeInstance(const Op::Description& description, std::unique_ptr<Node> node, Iop* op)
    : description_(description), node_(std::move(node)), op_(op) {}

NodeInstance::~NodeInstance() { delete op_; }

std::unique_ptr<NodeInstance> NodeInstance::create(const Op::Description& description, std::string& error) {
  auto node = std::make_unique<Node>(description.name());
  Iop* op = description.constructor()(node.get());
  if (!op) {
    error = std::string("could not create a \"") + description.name() + "\" node: out of memory";
    return nullptr;
  }
  std::unique_ptr<NodeInstance> instance(new NodeInstance(description, std::move(node), op));
  instance->op().knobs();
  return instance;
}

}  // namespace DD::Image
