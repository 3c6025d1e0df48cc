// The script of a page that draws its price clocks in the browser: it reads the goods from the
// <script type="application/json" id="clock-data"> element (clock_data.h) and, in every
// <section class="auction">, draws the good picked in its <select class="good-picker"> (or
// clicked in its summary chart, a <g class="good-mark" data-index="K">) into its
// <div class="clock-view">, as the same chart the page draws inline (price_clock_chart.h):
// <svg class="price-clock"> with polyline.clock, one element of class "bid" per tick bid, one of
// class "collision" per rise, and the sale or the fall out of the market. The first good of each
// auction is drawn when the page opens. Text from the data is set as text, never as markup.
#ifndef REPORT_CLOCK_SCRIPT_H_
#define REPORT_CLOCK_SCRIPT_H_

#include <string>

namespace report {

// The <script> element (the palette of palette.h written into it).
std::string ClockScript();

}  // namespace report

#endif  // REPORT_CLOCK_SCRIPT_H_
