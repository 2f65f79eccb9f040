// Puts pictures on an X11 window straight from shared memory. The picture a
// worker draws lives in a segment the X server has attached, so showing it
// costs the GUI thread one request: no copy into Qt's backing store first,
// which for a 640 x 480 live picture is 1.2 MB per frame.
//
// Only for a local X server offering MIT-SHM with a 24-bit true-colour screen
// whose pixels are blue, green, red, pad in memory (QImage::Format_RGB32 on a
// little-endian machine). Anywhere else open() gives nullptr and the caller
// paints through Qt as usual.
#pragma once

#include <QImage>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

struct xcb_connection_t;

// Pictures for the screen start every row on a cache line, so the stretch
// can stream whole lines into them.
constexpr size_t kPictureRowAlignment = 64;
// Bytes per row of such a picture, width pixels of 4 bytes.
inline size_t alignedBytesPerLine(int width) {
    return (static_cast<size_t>(width) * 4 + kPictureRowAlignment - 1) / kPictureRowAlignment *
           kPictureRowAlignment;
}

class ShmPresenter : public std::enable_shared_from_this<ShmPresenter> {
public:
    // The process's presenter on the display Qt uses, opened on first call;
    // nullptr when the platform is not xcb, MIT-SHM is missing or refused, the
    // screen's pixel layout differs, or KEST_NO_XSHM is set in the environment.
    static std::shared_ptr<ShmPresenter> forApplication();
    ~ShmPresenter();
    ShmPresenter(const ShmPresenter&) = delete;
    ShmPresenter& operator=(const ShmPresenter&) = delete;

    // A Format_RGB32 picture of size in a segment the server has attached,
    // rows starting on 64-byte boundaries; a null image when that fails. The
    // segment goes with the last copy of the image. Any thread may call this.
    QImage newPicture(const QSize& size);
    // True when picture's pixels are in one of this presenter's segments.
    bool owns(const QImage& picture) const;

    // Copies part (in picture coordinates) of one of this presenter's pictures
    // to window at the window point at. False when the picture is not one of
    // ours or the window's depth is not 24. The server reads the pixels later:
    // a picture may be drawn into again only after the next put() or settle()
    // has returned (both wait until every earlier put is read). Freeing it is
    // safe at any time: the server handles the detach after the put.
    bool put(uint32_t window, const QImage& picture, const QRect& part, const QPoint& at);
    // Returns once the server has read the pixels of every put so far.
    void settle();
    // Fills rect of window with colour.
    void fill(uint32_t window, const QRect& rect, QRgb colour);
    // Drops what is kept for a window or pixmap that is going away.
    void forget(uint32_t drawable);

private:
    explicit ShmPresenter(xcb_connection_t* connection);
    static std::shared_ptr<ShmPresenter> open();
    // True when a pixel put from one of our segments reads back the same
    // from the server.
    bool roundTripsAPixel(int screenNumber);

    // The graphics context for window, created on first use; 0 when the
    // window's depth does not match the pictures'.
    uint32_t contextFor(uint32_t window);
    void release(uint32_t segment, void* address);
    // Waits for the reply m_unread names, if any; m_syncMutex held.
    void takeUnreadReply();

    xcb_connection_t* m_connection;
    mutable std::mutex m_mutex;
    std::map<const void*, uint32_t> m_segments;  // pixel address -> attached segment
    std::map<uint32_t, uint32_t> m_contexts;     // window -> graphics context (0: unusable)
    // The reply that tells the last put has been read, not taken yet.
    std::mutex m_syncMutex;
    unsigned int m_unread = 0;
    bool m_haveUnread = false;
};
