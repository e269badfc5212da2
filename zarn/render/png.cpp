#include "render/png.hpp"

#include <cctype>
#include <cerrno>

#ifdef ZARN_HAVE_PNG
#include <cairo.h>
#include <dlfcn.h>
#include <librsvg/rsvg.h>
#include <unistd.h>
#endif

namespace zarn {

bool is_png_name(std::string_view name) {
  constexpr std::string_view kEnding = ".png";
  if (name.size() <= kEnding.size()) return false;
  for (std::size_t i = 0; i < kEnding.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - kEnding.size() + i])) != kEnding[i]) return false;
  return true;
}

#ifdef ZARN_HAVE_PNG

namespace {

// librsvg and cairo, loaded only when a PNG picture is asked for: linked in, their libraries
// (and the font libraries behind them) would weigh on every run.
struct Libraries {
  bool loaded = false;
  decltype(&rsvg_handle_new_from_data) new_from_data = nullptr;
  decltype(&rsvg_handle_get_intrinsic_size_in_pixels) intrinsic_size = nullptr;
  decltype(&rsvg_handle_render_document) render_document = nullptr;
  decltype(&g_object_unref) object_unref = nullptr;
  decltype(&g_error_free) error_free = nullptr;
  decltype(&cairo_image_surface_create) surface_create = nullptr;
  decltype(&cairo_create) create = nullptr;
  decltype(&cairo_surface_write_to_png_stream) write_png = nullptr;
  decltype(&cairo_destroy) destroy = nullptr;
  decltype(&cairo_surface_destroy) surface_destroy = nullptr;
};

template <typename F>
bool find(void* lib, const char* name, F& f) {
  if (lib == nullptr) return false;
  f = reinterpret_cast<F>(::dlsym(lib, name));
  return f != nullptr;
}

const Libraries& libraries() {
  static const Libraries libs = [] {
    Libraries l;
    void* rsvg = ::dlopen("librsvg-2.so.2", RTLD_NOW | RTLD_LOCAL);
    void* cairo = ::dlopen("libcairo.so.2", RTLD_NOW | RTLD_LOCAL);
    void* gobject = ::dlopen("libgobject-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    void* glib = ::dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    l.loaded = find(rsvg, "rsvg_handle_new_from_data", l.new_from_data) &&
               find(rsvg, "rsvg_handle_get_intrinsic_size_in_pixels", l.intrinsic_size) &&
               find(rsvg, "rsvg_handle_render_document", l.render_document) && find(gobject, "g_object_unref", l.object_unref) &&
               find(glib, "g_error_free", l.error_free) && find(cairo, "cairo_image_surface_create", l.surface_create) &&
               find(cairo, "cairo_create", l.create) && find(cairo, "cairo_surface_write_to_png_stream", l.write_png) &&
               find(cairo, "cairo_destroy", l.destroy) && find(cairo, "cairo_surface_destroy", l.surface_destroy);
    return l;
  }();
  return libs;
}

// The PNG stream into a file descriptor; the first failure's errno is kept.
struct Sink {
  int fd;
  int error = 0;
};

cairo_status_t put(void* closure, const unsigned char* data, unsigned int length) {
  Sink& sink = *static_cast<Sink*>(closure);
  while (length > 0) {
    const ssize_t w = ::write(sink.fd, data, length);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      sink.error = errno;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    data += w;
    length -= static_cast<unsigned int>(w);
  }
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool have_png() { return libraries().loaded; }

FdWriter png_writer(const std::string& svg) {
  return [&svg](int fd) -> int {
    const Libraries& l = libraries();
    if (!l.loaded) return ENOSYS;
    GError* error = nullptr;
    RsvgHandle* handle = l.new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
    if (handle == nullptr) {
      if (error != nullptr) l.error_free(error);
      return EINVAL;
    }
    gdouble width = 0, height = 0;
    if (!l.intrinsic_size(handle, &width, &height)) width = 1200, height = 720;
    cairo_surface_t* surface = l.surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height));
    cairo_t* cr = l.create(surface);
    const RsvgRectangle viewport{0, 0, width, height};
    const bool drawn = l.render_document(handle, cr, &viewport, &error);
    if (error != nullptr) l.error_free(error);
    Sink sink{fd};
    const bool written = drawn && l.write_png(surface, put, &sink) == CAIRO_STATUS_SUCCESS;
    l.destroy(cr);
    l.surface_destroy(surface);
    l.object_unref(handle);
    if (written) return 0;
    return sink.error != 0 ? sink.error : EIO;
  };
}

#else

bool have_png() { return false; }

FdWriter png_writer(const std::string&) {
  return [](int) { return ENOSYS; };
}

#endif

}  // namespace zarn
