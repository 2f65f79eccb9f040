#include "platform/ShmPresenter.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QSysInfo>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t kDepth = 24;

// A reply or an error of xcb, freed with its holder.
template <typename T>
struct Freed {
    T* p;
    ~Freed() { std::free(p); }
    explicit operator bool() const { return p != nullptr; }
    T* operator->() const { return p; }
};

// The screen of that number, or nullptr.
const xcb_screen_t* screenOf(xcb_connection_t* c, int screenNumber) {
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    return screens.rem ? screens.data : nullptr;
}

// True when the server's 24-bit pixels are 32 bits in memory, blue first,
// as Format_RGB32 lays them out on this (little-endian) machine.
bool screenMatchesRgb32(xcb_connection_t* c, int screenNumber) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool formatFound = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == kDepth)
            formatFound = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (!formatFound) return false;
    const xcb_screen_t* screen = screenOf(c, screenNumber);
    if (!screen) return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        if (d.data->depth != kDepth) continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                       v.data->red_mask == 0xff0000 && v.data->green_mask == 0x00ff00 &&
                       v.data->blue_mask == 0x0000ff;
    }
    return false;
}

// What a picture's clean-up needs: its presenter (kept alive by the
// picture) and its segment.
struct SegmentHolder {
    std::shared_ptr<ShmPresenter> presenter;
    uint32_t segment;
    void* address;
};

}  // namespace

std::shared_ptr<ShmPresenter> ShmPresenter::forApplication() {
    static const std::shared_ptr<ShmPresenter> instance = open();
    return instance;
}

std::shared_ptr<ShmPresenter> ShmPresenter::open() {
    if (std::getenv("KEST_NO_XSHM") || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    Freed<xcb_shm_query_version_reply_t> version{
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr)};
    if (!version || !screenMatchesRgb32(c, screenNumber)) {
        xcb_disconnect(c);
        return nullptr;
    }
    std::shared_ptr<ShmPresenter> presenter(new ShmPresenter(c));
    // A server on another machine, or in another IPC namespace, cannot
    // attach our segments, or may attach one of its own under the same id:
    // a pixel must make the round trip before pictures take this route.
    if (!presenter->roundTripsAPixel(screenNumber)) return nullptr;
    return presenter;
}

ShmPresenter::ShmPresenter(xcb_connection_t* connection) : m_connection(connection) {}

bool ShmPresenter::roundTripsAPixel(int screenNumber) {
    QImage probe = newPicture(QSize(1, 1));
    if (probe.isNull()) return false;
    constexpr QRgb kPattern = 0xff3c5a78;
    probe.setPixel(0, 0, kPattern);
    const uint32_t pixmap = xcb_generate_id(m_connection);
    xcb_create_pixmap(m_connection, kDepth, pixmap, screenOf(m_connection, screenNumber)->root, 1,
                      1);
    const bool put = this->put(pixmap, probe, probe.rect(), QPoint(0, 0));
    settle();
    Freed<xcb_get_image_reply_t> image{xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, 0, 1, 1, ~0u), nullptr)};
    xcb_free_pixmap(m_connection, pixmap);
    forget(pixmap);
    if (!put || !image || xcb_get_image_data_length(image.p) < 4) return false;
    uint32_t pixel = 0;
    std::memcpy(&pixel, xcb_get_image_data(image.p), sizeof pixel);
    return (pixel & 0xffffffu) == (kPattern & 0xffffffu);
}

void ShmPresenter::forget(uint32_t drawable) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_contexts.find(drawable);
    if (it == m_contexts.end()) return;
    if (it->second != 0) xcb_free_gc(m_connection, it->second);
    m_contexts.erase(it);
}

ShmPresenter::~ShmPresenter() {
    for (const auto& [window, context] : m_contexts)
        if (context != 0) xcb_free_gc(m_connection, context);
    xcb_disconnect(m_connection);
}

QImage ShmPresenter::newPicture(const QSize& size) {
    if (size.isEmpty()) return QImage();
    const size_t bytesPerLine = alignedBytesPerLine(size.width());
    const int id =
        shmget(IPC_PRIVATE, bytesPerLine * static_cast<size_t>(size.height()), IPC_CREAT | 0600);
    if (id < 0) return QImage();
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return QImage();
    }
    const uint32_t segment = xcb_generate_id(m_connection);
    Freed<xcb_generic_error_t> error{xcb_request_check(
        m_connection, xcb_shm_attach_checked(m_connection, segment, static_cast<uint32_t>(id), 1))};
    // Marked for removal at once: it goes when both sides have detached,
    // even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(address);
        return QImage();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_segments[address] = segment;
    }
    auto* holder = new SegmentHolder{shared_from_this(), segment, address};
    return QImage(
        static_cast<uchar*>(address), size.width(), size.height(), static_cast<int>(bytesPerLine),
        QImage::Format_RGB32,
        [](void* info) {
            auto* h = static_cast<SegmentHolder*>(info);
            h->presenter->release(h->segment, h->address);
            delete h;
        },
        holder);
}

void ShmPresenter::release(uint32_t segment, void* address) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_segments.erase(address);
    }
    xcb_shm_detach(m_connection, segment);
    xcb_flush(m_connection);
    shmdt(address);
}

bool ShmPresenter::owns(const QImage& picture) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_segments.count(picture.constBits()) != 0;
}

uint32_t ShmPresenter::contextFor(uint32_t window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto known = m_contexts.find(window);
    if (known != m_contexts.end()) return known->second;
    uint32_t context = 0;
    Freed<xcb_get_geometry_reply_t> geometry{
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr)};
    if (geometry && geometry->depth == kDepth) {
        context = xcb_generate_id(m_connection);
        const uint32_t noExposures = 0;
        xcb_create_gc(m_connection, context, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    }
    m_contexts[window] = context;
    return context;
}

bool ShmPresenter::put(uint32_t window, const QImage& picture, const QRect& part,
                       const QPoint& at) {
    uint32_t segment = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_segments.find(picture.constBits());
        if (it == m_segments.end()) return false;
        segment = it->second;
    }
    const uint32_t context = contextFor(window);
    if (context == 0) return false;
    const QRect shown = part & picture.rect();
    if (shown.isEmpty()) return true;
    // Puts from two threads (a worker's, and the GUI thread's repaint) go one
    // after the other, so that each takes the reply of the one before.
    std::lock_guard<std::mutex> lock(m_syncMutex);
    xcb_shm_put_image(
        m_connection, window, context, static_cast<uint16_t>(picture.bytesPerLine() / 4),
        static_cast<uint16_t>(picture.height()), static_cast<uint16_t>(shown.x()),
        static_cast<uint16_t>(shown.y()), static_cast<uint16_t>(shown.width()),
        static_cast<uint16_t>(shown.height()), static_cast<int16_t>(at.x()),
        static_cast<int16_t>(at.y()), kDepth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
    // A request with a reply behind it: when the reply is here, the server
    // has read the pixels. The reply of the previous put is taken now, a
    // frame later, when it has long arrived, so the caller rarely waits.
    const xcb_get_input_focus_cookie_t read = xcb_get_input_focus(m_connection);
    xcb_flush(m_connection);
    takeUnreadReply();
    m_unread = read.sequence;
    m_haveUnread = true;
    // Nothing is asked to send events; an error (a window gone meanwhile)
    // would otherwise pile up unread. Taking the reply has read everything
    // before it, so the queue is drained without another read of the socket.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(m_connection)) std::free(event);
    return true;
}

void ShmPresenter::settle() {
    std::lock_guard<std::mutex> lock(m_syncMutex);
    takeUnreadReply();
}

void ShmPresenter::takeUnreadReply() {
    if (!m_haveUnread) return;
    m_haveUnread = false;
    std::free(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus_cookie_t{m_unread}, nullptr));
}

void ShmPresenter::fill(uint32_t window, const QRect& rect, QRgb colour) {
    const uint32_t context = contextFor(window);
    if (context == 0 || rect.isEmpty()) return;
    const uint32_t foreground = colour & 0xffffffu;
    xcb_change_gc(m_connection, context, XCB_GC_FOREGROUND, &foreground);
    const xcb_rectangle_t r{static_cast<int16_t>(rect.x()), static_cast<int16_t>(rect.y()),
                            static_cast<uint16_t>(rect.width()),
                            static_cast<uint16_t>(rect.height())};
    xcb_poly_fill_rectangle(m_connection, window, context, 1, &r);
    xcb_flush(m_connection);
}
