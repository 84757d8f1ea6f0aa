/// \file NodeHost.h  Creating and owning nodes, for host programs.
#pragma once

#include <memory>
#include <string>

#include "DDImage/Iop.h"

namespace DD::Image {

/// One node: the host's handle and the operator its class's factory made for it.
class NodeInstance {
 public:
  /// Creates a node of the described class through its factory and declares its knobs. Returns null,
  /// with a message in `error`, when the factory yields no operator.
  static std::unique_ptr<NodeInstance> create(const Op::Description& description, std::string& error);
  ~NodeInstance();
  NodeInstance(const NodeInstance&) = delete;
  NodeInstance& operator=(const NodeInstance&) = delete;

  Iop& op() { return *op_; }
  Node* node() { return node_.get(); }
  const Op::Description& description() const { return description_; }

 private:
  NodeInstance(const Op::Description& description, std::unique_ptr<Node> node, Iop* op);

  const Op::Description& description_;
  std::unique_ptr<Node> node_;
  Iop* op_;
};

}  // namespace DD::Image
