#include "png.hpp"

#include <cctype>
#include <cerrno>

#ifdef ZARN_HAVE_PNG
#include <cairo.h>
#include <librsvg/rsvg.h>
#include <unistd.h>
#endif

namespace zarn {

bool have_png() {
#ifdef ZARN_HAVE_PNG
  return true;
#else
  return false;
#endif
}

bool is_png_name(std::string_view name) {
  constexpr std::string_view kEnding = ".png";
  if (name.size() <= kEnding.size()) return false;
  for (std::size_t i = 0; i < kEnding.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - kEnding.size() + i])) != kEnding[i]) return false;
  return true;
}

#ifdef ZARN_HAVE_PNG

namespace {

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

FdWriter png_writer(const std::string& svg) {
  return [&svg](int fd) -> int {
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
    if (handle == nullptr) {
      if (error != nullptr) g_error_free(error);
      return EINVAL;
    }
    gdouble width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height)) width = 1200, height = 720;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height));
    cairo_t* cr = cairo_create(surface);
    const RsvgRectangle viewport{0, 0, width, height};
    const bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error);
    if (error != nullptr) g_error_free(error);
    Sink sink{fd};
    const bool written = drawn && cairo_surface_write_to_png_stream(surface, put, &sink) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    g_object_unref(handle);
    if (written) return 0;
    return sink.error != 0 ? sink.error : EIO;
  };
}

#else

FdWriter png_writer(const std::string&) {
  return [](int) { return ENOSYS; };
}

#endif

}  // namespace zarn
