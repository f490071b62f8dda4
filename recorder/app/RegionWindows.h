// The windows that show and change the capture region: the two corner
// markers, the four frame bars around the region, the drag picker that
// chooses a window, and the one-line instructions above the panel.
#pragma once

#include <windows.h>

#include "recorder/core/RegionSelect.h"

namespace zelbo {

class RegionSelector {
public:
    // Panel entry points.
    void OnMarkersButton(bool recording);
    void OnPickerButton(bool recording);

    void CreateMarkers();
    // Markers back to their places on the panel; closes the picker.
    void ParkMarkers(bool inProcessPaused);
    void ShowCornerMarkers(bool show);
    // Closes the region outline.
    void HideMarkers();
    void SetFullScreenRegion();
    // Markers at the region's corners and the outline around it.
    void ShowMarkers(bool recording);
    void CloseAll();

    // Window procedures reach the selector through these.
    void MarkerDown(HWND marker, POINT screen);
    void MarkerMove(HWND marker, POINT screen);
    void MarkerUp(HWND marker);
    void PickerMove(POINT screen);
    void PickerTick();
    void PickerUp(POINT screen);

    bool MarkersShown() const { return markersShown_; }
    HWND LeftMarker() const { return left_; }
    HWND RightMarker() const { return right_; }

private:
    void ShowFrameBars(const recorder::Region& region);
    void CloseFrameBars();
    void ShowInfo(const char* text, bool& shownOnce);
    void CloseInfo();
    void ClosePicker();
    void PlaceMarkersAtRegion();
    void PlaceMarkersAt(const recorder::Region& r);
    void Commit(recorder::Region region);
    bool SearchWindow(POINT point, bool hover, RECT& found);

    HWND left_ = nullptr;
    HWND right_ = nullptr;
    HWND bars_[4] = {};
    HWND picker_ = nullptr;
    HWND info_ = nullptr;
    bool markersShown_ = false;
    bool dragging_ = false;  // a marker drag
    POINT grab_{};
    bool pickerMode_ = false;
    bool pickerDragging_ = false;
    POINT hotPoint_{};
    RECT lastFound_{};
    bool markerInfoShown_ = false;
    bool pickerInfoShown_ = false;
    recorder::Region working_{};
};

RegionSelector& TheRegionSelector();

}  // namespace zelbo
