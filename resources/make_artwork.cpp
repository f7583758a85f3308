// Draws the launcher's artwork: logo.png (1032 x 340, transparent background, the
// game's name as a wordmark under a mountain peak) and icon.png (256 x 256, the peak
// on a dark tile). The PNGs are kept in the repository beside this program; run it
// again only to change the pictures:
//   cmake --build <build dir> --target brisal_make_artwork
//   <build dir>/resources/brisal_make_artwork resources/
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/free_with.h"

namespace {

using brisal::OwningPtr;
using Surface = OwningPtr<cairo_surface_t, cairo_surface_destroy>;
using Context = OwningPtr<cairo_t, cairo_destroy>;
using Pattern = OwningPtr<cairo_pattern_t, cairo_pattern_destroy>;
using Layout = OwningPtr<PangoLayout, g_object_unref>;

void Rgb(cairo_pattern_t* p, double offset, unsigned rgb, double alpha = 1) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((rgb >> 16) & 0xFF) / 255.0,
                                    ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha);
}

// Metallic fill: bright at the top, a hard horizon in the middle, darker below.
Pattern Metal(double top, double bottom) {
  Pattern p(cairo_pattern_create_linear(0, top, 0, bottom));
  Rgb(p.get(), 0.00, 0xFFFFFF);
  Rgb(p.get(), 0.48, 0xD8D8DE);
  Rgb(p.get(), 0.52, 0x9A9AA4);
  Rgb(p.get(), 1.00, 0xC4C4CC);
  return p;
}

// The peak: a broad mountain with a smaller shoulder and a snow line, inside `w` x `h`
// with its base on y = h.
void PeakPath(cairo_t* cr, double x, double y, double w, double h) {
  cairo_move_to(cr, x, y + h);
  cairo_line_to(cr, x + w * 0.30, y + h * 0.38);
  cairo_line_to(cr, x + w * 0.42, y + h * 0.56);
  cairo_line_to(cr, x + w * 0.60, y);
  cairo_line_to(cr, x + w, y + h);
  cairo_close_path(cr);
}

void SnowPath(cairo_t* cr, double x, double y, double w, double h) {
  cairo_move_to(cr, x + w * 0.60, y);
  cairo_line_to(cr, x + w * 0.745, y + h * 0.34);
  cairo_line_to(cr, x + w * 0.66, y + h * 0.27);
  cairo_line_to(cr, x + w * 0.60, y + h * 0.36);
  cairo_line_to(cr, x + w * 0.53, y + h * 0.25);
  cairo_line_to(cr, x + w * 0.485, y + h * 0.30);
  cairo_close_path(cr);
}

Layout Text(cairo_t* cr, const char* text, double px, double spacing_px) {
  Layout layout(pango_cairo_create_layout(cr));
  OwningPtr<PangoFontDescription, pango_font_description_free> font(
      pango_font_description_from_string("Liberation Sans, DejaVu Sans, sans-serif Bold"));
  pango_font_description_set_absolute_size(font.get(), px * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  OwningPtr<PangoAttrList, pango_attr_list_unref> attrs(pango_attr_list_new());
  pango_attr_list_insert(attrs.get(),
                         pango_attr_letter_spacing_new(static_cast<int>(spacing_px * PANGO_SCALE)));
  pango_layout_set_attributes(layout.get(), attrs.get());
  pango_layout_set_text(layout.get(), text, -1);
  return layout;
}

// Draws `layout` centred on x = cx with its ink top at y = top; returns the ink box.
PangoRectangle PlaceCentred(cairo_t* cr, PangoLayout* layout, double cx, double top) {
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout, &ink, &logical);
  // Letter spacing trails the last letter too; centre on the ink, not the advance.
  cairo_move_to(cr, cx - ink.x - ink.width / 2.0, top - ink.y);
  PangoRectangle placed = ink;
  placed.x = static_cast<int>(cx - ink.width / 2.0);
  placed.y = static_cast<int>(top);
  return placed;
}

bool WriteLogo(const std::string& path) {
  const int w = 1032, h = 340;
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  Context cr(cairo_create(surface.get()));

  // Peak above the name, its base on a thin rule.
  const double peak_w = 150, peak_h = 78, peak_x = (w - peak_w) / 2, peak_y = 14;
  PeakPath(cr.get(), peak_x, peak_y, peak_w, peak_h);
  Pattern rock(cairo_pattern_create_linear(0, peak_y, 0, peak_y + peak_h));
  Rgb(rock.get(), 0, 0x8E8E98);
  Rgb(rock.get(), 1, 0x3C3C44);
  cairo_set_source(cr.get(), rock.get());
  cairo_fill(cr.get());
  SnowPath(cr.get(), peak_x, peak_y, peak_w, peak_h);
  cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.98);
  cairo_fill(cr.get());

  // The name, with a soft drop shadow so it stands on any background.
  auto brisal = Text(cr.get(), "BRISAL", 148, 14);
  for (int pass = 0; pass < 2; ++pass) {
    cairo_save(cr.get());
    const PangoRectangle box = PlaceCentred(cr.get(), brisal.get(), w / 2.0 + 7, 104);
    if (pass == 0) {
      cairo_rel_move_to(cr.get(), 0, 5);
      cairo_set_source_rgba(cr.get(), 0, 0, 0, 0.55);
      pango_cairo_show_layout(cr.get(), brisal.get());
    } else {
      pango_cairo_layout_path(cr.get(), brisal.get());
      Pattern metal = Metal(box.y, box.y + box.height);
      cairo_set_source(cr.get(), metal.get());
      cairo_fill_preserve(cr.get());
      cairo_set_source_rgba(cr.get(), 1, 1, 1, 0.35);
      cairo_set_line_width(cr.get(), 1.5);
      cairo_stroke(cr.get());
    }
    cairo_restore(cr.get());
  }

  // ASCENT, spaced wide between two rules.
  auto ascent = Text(cr.get(), "ASCENT", 50, 34);
  cairo_save(cr.get());
  const PangoRectangle box = PlaceCentred(cr.get(), ascent.get(), w / 2.0 + 17, 258);
  cairo_set_source_rgb(cr.get(), 0.78, 0.78, 0.82);
  pango_cairo_show_layout(cr.get(), ascent.get());
  cairo_restore(cr.get());
  const double rule_y = box.y + box.height / 2.0;
  for (int side = 0; side < 2; ++side) {
    const double x0 = side == 0 ? 150 : box.x + box.width + 40;
    const double x1 = side == 0 ? box.x - 40 : w - 150;
    Pattern fade(cairo_pattern_create_linear(x0, 0, x1, 0));
    Rgb(fade.get(), 0, 0xC8C8D0, side == 0 ? 0 : 0.9);
    Rgb(fade.get(), 1, 0xC8C8D0, side == 0 ? 0.9 : 0);
    cairo_rectangle(cr.get(), x0, rule_y - 1, x1 - x0, 2);
    cairo_set_source(cr.get(), fade.get());
    cairo_fill(cr.get());
  }
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool WriteIcon(const std::string& path) {
  const int size = 256;
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
  Context cr(cairo_create(surface.get()));
  cairo_t* c = cr.get();

  // Dark rounded tile.
  const double r = 44, inset = 8, edge = size - 2 * inset;
  cairo_new_sub_path(c);
  cairo_arc(c, inset + edge - r, inset + r, r, -1.5708, 0);
  cairo_arc(c, inset + edge - r, inset + edge - r, r, 0, 1.5708);
  cairo_arc(c, inset + r, inset + edge - r, r, 1.5708, 3.14159);
  cairo_arc(c, inset + r, inset + r, r, 3.14159, 4.71239);
  cairo_close_path(c);
  Pattern tile(cairo_pattern_create_linear(0, inset, 0, inset + edge));
  Rgb(tile.get(), 0, 0x26262C);
  Rgb(tile.get(), 1, 0x0B0B0D);
  cairo_set_source(c, tile.get());
  cairo_fill_preserve(c);
  cairo_set_source_rgb(c, 0.30, 0.30, 0.34);
  cairo_set_line_width(c, 4);
  cairo_stroke(c);

  // The peak from the logo, large.
  const double pw = 176, ph = 120, px = (size - pw) / 2 - 6, py = 62;
  PeakPath(c, px, py, pw, ph);
  Pattern rock(cairo_pattern_create_linear(0, py, 0, py + ph));
  Rgb(rock.get(), 0, 0xB4B4BE);
  Rgb(rock.get(), 1, 0x4A4A54);
  cairo_set_source(c, rock.get());
  cairo_fill(c);
  SnowPath(c, px, py, pw, ph);
  cairo_set_source_rgb(c, 1, 1, 1);
  cairo_fill(c);

  // Ground line.
  cairo_rectangle(c, 48, py + ph + 10, size - 96, 6);
  cairo_set_source_rgb(c, 0.85, 0.85, 0.89);
  cairo_fill(c);
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const bool ok = WriteLogo(folder + "/logo.png") && WriteIcon(folder + "/icon.png");
  if (!ok) std::fprintf(stderr, "could not write the artwork into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
