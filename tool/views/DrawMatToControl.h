// Puts an 8-bit picture into a dialog control, stretched to the control's
// client size. Shared by the 2D view and the registration pictures.
#pragma once

#include <opencv2/core/mat.hpp>

class ControlSink;

// Scales image (8-bit, 1 or 3 channels; others are not drawn) bilinearly to
// the control's client size, shows it and then pauses drawSettleMs.
void DrawMatToControl(const cv::Mat& image, ControlSink& sink, int controlId);

// The tool's pictures are small: OpenCV does each on the calling thread
// instead of its thread pool. Called once at start-up.
void UseOneThreadForPictures();
