// SVG markup written as text: shapes with their coordinates to a tenth of a pixel, and text made
// safe to stand in the markup whatever bytes it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvane {

// & < > " ' as entity references, everything else as it is.
std::string xml_escape(std::string_view text);

// clean_text, then at most max_chars characters (shorten), then xml_escape.
std::string svg_text(std::string_view raw, std::size_t max_chars = SIZE_MAX);

// A coordinate or length as an attribute value: one decimal.
std::string num(double v);

// Attributes, each with its leading space.
std::string fill(const char* colour);
std::string stroke(const char* colour, double width = 1);

// One document: the shapes in the order drawn, on a white page of the given width.
class Svg {
 public:
  // ink: the colour of text that does not name its own.
  Svg(double width, const char* ink) : width_(width), ink_(ink) {}

  // Text already escaped; attrs are extra attributes, each with its leading space.
  void text(double x, double y, const std::string& escaped, const std::string& attrs = {});
  void line(double x1, double y1, double x2, double y2, const std::string& attrs);
  void rect(double x, double y, double w, double h, const std::string& attrs);
  void raw(const std::string& markup) { body_ += markup; }

  // The whole document, height tall, its title already escaped.
  std::string document(double height, const std::string& title) const;

 private:
  double width_;
  const char* ink_;
  std::string body_;
};

}  // namespace kolvane
