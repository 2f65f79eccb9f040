// How a worker thread reaches the screen: it names a control of its dialog by
// id and hands over a text or a picture. The Qt implementation posts the
// change to the GUI thread; tests record what arrives.
#pragma once

#include <opencv2/core/mat.hpp>
#include <string>

class ControlSink {
public:
    virtual ~ControlSink() = default;
    // Replaces the whole text of a control (UTF-8).
    virtual void setControlText(int controlId, const std::string& text) = 0;
    // Client size of a control in pixels.
    virtual void controlSize(int controlId, int& width, int& height) const = 0;
    // Shows a picture that already has the control's client size (8-bit,
    // 1 channel grey, 3 channels blue-green-red, or 4 blue-green-red-255).
    // The picture is the caller's again when the call returns: a sink copies
    // what it keeps, unless the picture is one it lent (lendPicture).
    virtual void showImage(int controlId, const cv::Mat& image) = 0;

    // True when the sink shows colour pictures as 4 bytes a pixel (blue,
    // green, red, 255) without converting them: the screen's own layout.
    virtual bool prefersFourChannels() const { return false; }

    // A picture of the given size and type to draw into and then hand to
    // showImage, which keeps it without a copy; empty when the sink lends
    // none. One drawing thread per control.
    virtual cv::Mat lendPicture(int /*controlId*/, cv::Size /*size*/, int /*type*/) {
        return cv::Mat();
    }
};
