// The whole layout picture: white, the zones, the groups, the link lines, then the objects (the selected
// one highlighted). Works on any QPainter, so the window, the screenshot, printing and the tests all use it.
#pragma once

#include <QImage>
#include <QPainter>

#include "document/document.h"
#include "document/layoutpass.h"

namespace orv::view {

void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size);
// The layout pass, then the picture at the layout's size.
QImage RenderLayout(COrvaneDoc& doc);

}  // namespace orv::view
