#include "report/svg_writer.h"

#include "report/plot_units.h"
#include "report/utf8.h"

namespace kolvane {

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string svg_text(std::string_view raw, std::size_t max_chars) {
  return xml_escape(shorten(clean_text(raw), max_chars));
}

std::string num(double v) {
  return format_number("%.1f", v);
}

std::string fill(const char* colour) {
  return std::string(" fill=\"") + colour + "\"";
}

std::string stroke(const char* colour, double width) {
  return std::string(" stroke=\"") + colour + "\" stroke-width=\"" + num(width) + "\"";
}

void Svg::text(double x, double y, const std::string& escaped, const std::string& attrs) {
  body_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\"" + attrs + ">" + escaped + "</text>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, const std::string& attrs) {
  body_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
           num(y2) + "\"" + attrs + "/>\n";
}

void Svg::rect(double x, double y, double w, double h, const std::string& attrs) {
  body_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" +
           num(h) + "\"" + attrs + "/>\n";
}

std::string Svg::document(double height, const std::string& title) const {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width_) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width_) + " " + num(height) +
         "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"" + ink_ + "\">\n";
  out += "<title>" + title + "</title>\n";
  out += "<rect width=\"" + num(width_) + "\" height=\"" + num(height) + "\" fill=\"#ffffff\"/>\n";
  out += body_;
  out += "</svg>\n";
  return out;
}

}  // namespace kolvane
