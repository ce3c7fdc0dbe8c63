#include "cli/inventory.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <charconv>
#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "cli/arguments.h"
#include "protocol/wire/fields.h"

namespace oxlo::cli {
namespace {

std::string LineOf(const YAML::Mark& mark) {
  return mark.line >= 0 ? "line " + std::to_string(mark.line + 1) + ": " : "";
}

// Counts the events of one document as the nodes they stand for, an alias
// as the whole node it names, and refuses as soon as a bound is passed:
// nothing is expanded or kept but a size per anchor and the keys of the open
// maps.
class ShapeCounter : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& mark, YAML::anchor_t anchor) override {
    Key(mark, nullptr);
    Done({1, 0}, anchor);
  }
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t anchor) override {
    const auto it = anchors_.find(anchor);
    if (it == anchors_.end()) throw InventoryError(LineOf(mark) + "an alias to no anchor");
    Key(mark, nullptr);
    Done(it->second, 0);
  }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                const std::string& value) override {
    Key(mark, &value);
    Done({1, 0}, anchor);
  }
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                       YAML::EmitterStyle::value) override {
    Open(mark, anchor, false);
  }
  void OnSequenceEnd() override { Close(); }
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                  YAML::EmitterStyle::value) override {
    Open(mark, anchor, true);
  }
  void OnMapEnd() override { Close(); }

 private:
  struct Size {
    std::uint64_t nodes = 0;
    int depth = 0;  // levels below the node
  };
  struct Open_ {
    YAML::anchor_t anchor;
    bool map;
    Size size{1, 0};
    std::size_t children = 0;
    std::map<std::string, int> keys{};  // key: its line
  };

  // A map's even children are keys: text, once per map.
  void Key(const YAML::Mark& mark, const std::string* text) {
    if (open_.empty() || !open_.back().map || open_.back().children % 2 != 0) return;
    if (text == nullptr) throw InventoryError(LineOf(mark) + "a key must be text");
    const auto [it, added] = open_.back().keys.emplace(*text, mark.line + 1);
    if (!added) {
      throw InventoryError(LineOf(mark) + "duplicate key " + *text + " (first on line " +
                           std::to_string(it->second) + ")");
    }
  }

  void Open(const YAML::Mark& mark, YAML::anchor_t anchor, bool map) {
    if (!open_.empty() && open_.back().map && open_.back().children % 2 == 0) {
      throw InventoryError(LineOf(mark) + "a key must be text");
    }
    if (static_cast<int>(open_.size()) >= kDeepestInventory) {
      throw InventoryError(LineOf(mark) + "nested deeper than " +
                           std::to_string(kDeepestInventory) + " levels");
    }
    open_.push_back({anchor, map});
  }

  void Close() {
    const Open_ closed = std::move(open_.back());
    open_.pop_back();
    Done(closed.size, closed.anchor);
  }

  // A whole node of `size` under the open ones.
  void Done(Size size, YAML::anchor_t anchor) {
    if (anchor != YAML::NullAnchor) anchors_[anchor] = size;
    if (static_cast<int>(open_.size()) + size.depth > kDeepestInventory) {
      throw InventoryError("nested deeper than " + std::to_string(kDeepestInventory) +
                           " levels once its aliases are expanded");
    }
    total_ += size.nodes;
    if (total_ > kMostInventoryNodes) {
      throw InventoryError("more than " + std::to_string(kMostInventoryNodes) +
                           " nodes once its aliases are expanded");
    }
    if (open_.empty()) return;
    Open_& parent = open_.back();
    ++parent.children;
    parent.size.nodes += size.nodes;
    parent.size.depth = std::max(parent.size.depth, size.depth + 1);
  }

  std::vector<Open_> open_;
  std::unordered_map<YAML::anchor_t, Size> anchors_;
  std::uint64_t total_ = 0;
};

// The YAML reader holds every token of an open flow collection ([ or {)
// until it closes, a few hundred bytes each: so their nesting is checked on
// the text first. Brackets in quoted text and comments do not count; a
// quote that seems to run on and on is refused, so a misread quote cannot
// hide much.
void CheckFlowNesting(std::string_view yaml) {
  constexpr std::size_t kLongestQuoted = 64 << 10;
  int depth = 0;
  int line = 1;
  char quote = 0;
  std::size_t quoteStart = 0;
  for (std::size_t i = 0; i < yaml.size(); ++i) {
    const char c = yaml[i];
    const char before = i == 0 ? '\n' : yaml[i - 1];
    if (c == '\n') ++line;
    if (quote != 0) {
      if (i - quoteStart > kLongestQuoted) {
        throw InventoryError("line " + std::to_string(line) + ": a quoted text longer than " +
                             std::to_string(kLongestQuoted) + " bytes");
      }
      if (quote == '"' && c == '\\') {
        if (i + 1 < yaml.size() && yaml[i + 1] == '\n') ++line;
        ++i;
      } else if (c == quote && quote == '\'' && i + 1 < yaml.size() && yaml[i + 1] == '\'') {
        ++i;
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    const bool atStart = std::string_view(" \t\n\r[{,:-?").find(before) != std::string_view::npos;
    if ((c == '\'' || c == '"') && atStart) {
      quote = c;
      quoteStart = i;
    } else if (c == '#' && (before == ' ' || before == '\t' || before == '\n' || i == 0)) {
      i = std::min(yaml.find('\n', i), yaml.size()) - 1;
    } else if (c == '[' || c == '{') {
      if (++depth > kDeepestInventory) {
        throw InventoryError("line " + std::to_string(line) + ": nested deeper than " +
                             std::to_string(kDeepestInventory) + " levels");
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
}

[[noreturn]] void Refuse(const YAML::Node& node, const std::string& problem) {
  throw InventoryError(LineOf(node.Mark()) + problem);
}

// YAML as JSON: a plain scalar reads as a number or true/false where it is
// one, a quoted one as text.
Document ToDocument(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Map: {
      Document object = Document::object();
      for (const auto& entry : node) {
        object[entry.first.as<std::string>()] = ToDocument(entry.second);
      }
      return object;
    }
    case YAML::NodeType::Sequence: {
      Document list = Document::array();
      for (const auto& item : node) list.push_back(ToDocument(item));
      return list;
    }
    case YAML::NodeType::Scalar: {
      const std::string text = node.Scalar();
      if (node.Tag() == "?") {
        if (text == "true") return true;
        if (text == "false") return false;
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && end == text.data() + text.size()) return number;
      }
      return text;
    }
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
      break;
  }
  return nullptr;
}

// Values and lists of a document, itself included.
std::size_t CountValues(const Document& document) {
  std::size_t count = 1;
  if (document.is_structured()) {
    for (const Document& item : document) count += CountValues(item);
  }
  return count;
}

// `over` laid on `base`: objects merged key by key, filter lists joined so
// the later entries win.
void Merge(Document& base, const Document& over) {
  if (!base.is_object() || !over.is_object()) {
    base = over;
    return;
  }
  for (const auto& [key, value] : over.items()) {
    if (key == "filters" && base.contains(key) && base[key].is_array() && value.is_array()) {
      for (const Document& entry : value) base[key].push_back(entry);
    } else if (base.contains(key)) {
      Merge(base[key], value);
    } else {
      base[key] = value;
    }
  }
}

std::string Text(const YAML::Node& node, const std::string& what) {
  if (!node.IsScalar()) Refuse(node, what + " must be text");
  return node.Scalar();
}

// ParseInventory after the shape check.
std::vector<FleetDevice> ParseCheckedInventory(const std::string& yaml) {
  const YAML::Node root = YAML::Load(yaml);
  if (!root.IsMap()) throw InventoryError("an inventory is a map with defaults and devices");
  Document defaults = Document::object();
  for (const auto& entry : root) {
    const std::string key = entry.first.as<std::string>();
    if (key != "defaults" && key != "devices") Refuse(entry.first, "unknown key " + key);
  }
  if (const YAML::Node node = root["defaults"]) {
    if (!node.IsMap() && !node.IsNull()) Refuse(node, "defaults must be a settings map");
    if (node.IsMap()) defaults = ToDocument(node);
  }
  const YAML::Node list = root["devices"];
  if (!list || !list.IsSequence()) throw InventoryError("devices must be a list");
  // Each device gets its own copy of the defaults.
  if (CountValues(defaults) * list.size() > kMostInventoryValues) {
    throw InventoryError("the defaults, given to each of " + std::to_string(list.size()) +
                         " devices, come to more than " + std::to_string(kMostInventoryValues) +
                         " values");
  }

  std::vector<FleetDevice> devices;
  std::set<std::string> seen;
  for (const YAML::Node& item : list) {
    if (!item.IsMap()) Refuse(item, "each device is a map with its mac");
    const YAML::Node macNode = item["mac"];
    if (!macNode) Refuse(item, "a device without its mac");
    FleetDevice device;
    try {
      const MacArgument mac = ParseMacArgument(Text(macNode, "mac"));
      device.mac = mac.text;
      device.macBytes = mac.bytes;
    } catch (const UsageError& error) {
      Refuse(macNode, error.what());
    }
    if (!seen.insert(device.mac).second) Refuse(macNode, device.mac + " is listed twice");
    device.desired = defaults;
    Document own = Document::object();
    for (const auto& entry : item) {
      const std::string key = entry.first.as<std::string>();
      if (key == "mac") continue;
      if (key == "settings") {
        if (!entry.second.IsMap()) Refuse(entry.second, "settings must be a map");
        Merge(device.desired, ToDocument(entry.second));
      } else if (key == "name" || key == "ip" || key == "mask" || key == "gateway") {
        own[key] = Text(entry.second, key);
      } else {
        Refuse(entry.first, "unknown key " + key + " for " + device.mac);
      }
    }
    if (!own.empty() && device.desired.contains("network") &&
        !device.desired["network"].is_object()) {
      Refuse(item, "network settings must be a map");
    }
    for (const auto& [key, value] : own.items()) device.desired["network"][key] = value;
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace

void CheckInventoryShape(const std::string& yaml) {
  if (yaml.size() > kLargestInventory) {
    throw InventoryError("larger than " + std::to_string(kLargestInventory) + " bytes");
  }
  if (!IsValidUtf8(ByteView(reinterpret_cast<const std::uint8_t*>(yaml.data()), yaml.size()))) {
    throw InventoryError("not UTF-8 text");
  }
  CheckFlowNesting(yaml);
  std::istringstream in(yaml);
  try {
    YAML::Parser parser(in);
    ShapeCounter counter;
    if (!parser.HandleNextDocument(counter)) return;
    ShapeCounter next;
    if (parser.HandleNextDocument(next)) throw InventoryError("more than one YAML document");
  } catch (const YAML::Exception& error) {
    throw InventoryError(error.what());
  }
}

std::vector<FleetDevice> ParseInventory(const std::string& yaml) {
  CheckInventoryShape(yaml);
  try {
    return ParseCheckedInventory(yaml);
  } catch (const YAML::Exception& error) {
    throw InventoryError(error.what());
  }
}

}  // namespace oxlo::cli
