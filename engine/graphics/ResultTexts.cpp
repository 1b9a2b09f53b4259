// Texts for result codes: the Direct3D header names and DirectDraw's documented descriptions. The
// failure texts shown in the "DxInit" box and returned by setRenderState come from here; several
// descriptions end with a blank, which is part of the text.
#include "engine/graphics/DisplayDevice.h"

namespace {

struct ResultText {
    DxResult result;
    const char* text;
};

constexpr ResultText kDirect3DNames[] = {
    {D3D_OK, "D3D_OK"},
    {makeDdResult(700), "D3DERR_BADMAJORVERSION"},
    {makeDdResult(701), "D3DERR_BADMINORVERSION"},
    {makeDdResult(705), "D3DERR_INVALID_DEVICE"},
    {makeDdResult(706), "D3DERR_INITFAILED"},
    {makeDdResult(707), "D3DERR_DEVICEAGGREGATED"},
    {makeDdResult(710), "D3DERR_EXECUTE_CREATE_FAILED"},
    {makeDdResult(711), "D3DERR_EXECUTE_DESTROY_FAILED"},
    {makeDdResult(712), "D3DERR_EXECUTE_LOCK_FAILED"},
    {makeDdResult(713), "D3DERR_EXECUTE_UNLOCK_FAILED"},
    {makeDdResult(714), "D3DERR_EXECUTE_LOCKED"},
    {makeDdResult(715), "D3DERR_EXECUTE_NOT_LOCKED"},
    {makeDdResult(716), "D3DERR_EXECUTE_FAILED"},
    {makeDdResult(717), "D3DERR_EXECUTE_CLIPPED_FAILED"},
    {makeDdResult(720), "D3DERR_TEXTURE_NO_SUPPORT"},
    {makeDdResult(721), "D3DERR_TEXTURE_CREATE_FAILED"},
    {makeDdResult(722), "D3DERR_TEXTURE_DESTROY_FAILED"},
    {makeDdResult(723), "D3DERR_TEXTURE_LOCK_FAILED"},
    {makeDdResult(724), "D3DERR_TEXTURE_UNLOCK_FAILED"},
    {makeDdResult(725), "D3DERR_TEXTURE_LOAD_FAILED"},
    {makeDdResult(726), "D3DERR_TEXTURE_SWAP_FAILED"},
    {makeDdResult(727), "D3DERR_TEXTURE_LOCKED"},
    {makeDdResult(728), "D3DERR_TEXTURE_NOT_LOCKED"},
    {makeDdResult(729), "D3DERR_TEXTURE_GETSURF_FAILED"},
    {makeDdResult(730), "D3DERR_MATRIX_CREATE_FAILED"},
    {makeDdResult(731), "D3DERR_MATRIX_DESTROY_FAILED"},
    {makeDdResult(732), "D3DERR_MATRIX_SETDATA_FAILED"},
    {makeDdResult(733), "D3DERR_MATRIX_GETDATA_FAILED"},
    {makeDdResult(735), "D3DERR_INVALIDCURRENTVIEWPORT"},
    {makeDdResult(736), "D3DERR_INVALIDPRIMITIVETYPE"},
    {makeDdResult(737), "D3DERR_INVALIDVERTEXTYPE"},
    {makeDdResult(738), "D3DERR_TEXTURE_BADSIZE"},
    {makeDdResult(739), "D3DERR_INVALIDRAMPTEXTURE"},
    {makeDdResult(740), "D3DERR_MATERIAL_CREATE_FAILED"},
    {makeDdResult(741), "D3DERR_MATERIAL_DESTROY_FAILED"},
    {makeDdResult(742), "D3DERR_MATERIAL_SETDATA_FAILED"},
    {makeDdResult(743), "D3DERR_MATERIAL_GETDATA_FAILED"},
    {makeDdResult(744), "D3DERR_INVALIDPALETTE"},
    {makeDdResult(745), "D3DERR_ZBUFF_NEEDS_SYSTEMMEMORY"},
    {makeDdResult(746), "D3DERR_ZBUFF_NEEDS_VIDEOMEMORY"},
    {makeDdResult(747), "D3DERR_SURFACENOTINVIDMEM"},
    {makeDdResult(750), "D3DERR_LIGHT_SET_FAILED"},
    {makeDdResult(751), "D3DERR_LIGHTHASVIEWPORT"},
    {makeDdResult(752), "D3DERR_LIGHTNOTINTHISVIEWPORT"},
    {makeDdResult(760), "D3DERR_SCENE_IN_SCENE"},
    {makeDdResult(761), "D3DERR_SCENE_NOT_IN_SCENE"},
    {makeDdResult(762), "D3DERR_SCENE_BEGIN_FAILED"},
    {makeDdResult(763), "D3DERR_SCENE_END_FAILED"},
    {makeDdResult(770), "D3DERR_INBEGIN"},
    {makeDdResult(771), "D3DERR_NOTINBEGIN"},
    {makeDdResult(772), "D3DERR_NOVIEWPORTS"},
    {makeDdResult(773), "D3DERR_VIEWPORTDATANOTSET"},
    {makeDdResult(774), "D3DERR_VIEWPORTHASNODEVICE"},
    {makeDdResult(775), "D3DERR_NOCURRENTVIEWPORT"},
};

// The codes the display device can meet on the software device, and those it reports itself.
constexpr ResultText kDirectDrawDescriptions[] = {
    {DD_OK, "The request completed successfully"},
    {DDERR_GENERIC, "There is an undefined error condition. "},
    {DDERR_UNSUPPORTED, "The operation is not supported. "},
    {DDERR_INVALIDPARAMS, "One or more of the parameters passed to the method are incorrect "},
    {DDERR_OUTOFMEMORY, "DirectDraw does not have enough memory to perform the operation. "},
    {DDERR_NOTINITIALIZED, "An attempt was made to call an interface method of a DirectDraw object created by "
                           "CoCreateInstance before the object was initialized. "},
    {DDERR_INVALIDMODE, "DirectDraw does not support the requested mode. "},
    {DDERR_INVALIDOBJECT, "DirectDraw received a pointer that was an invalid DirectDraw object. "},
    {DDERR_INVALIDPIXELFORMAT, "The pixel format was invalid as specified. "},
    {DDERR_INVALIDRECT, "The provided rectangle was invalid. "},
    {DDERR_NOCOLORKEY, "The surface does not currently have a color key. "},
    {DDERR_OUTOFVIDEOMEMORY, "DirectDraw does not have enough display memory to perform the operation. "},
    {DDERR_SURFACEBUSY, "Access to the surface is refused because the surface is locked by another thread. "},
    {DDERR_SURFACELOST, "Access to the surface is refused because the surface memory is gone. The "
                        "DirectDrawSurface object representing this surface should have the "
                        "IDirectDrawSurface3::Restore method called on it. "},
    {DDERR_TOOBIGHEIGHT, "The height requested by DirectDraw is too large. "},
    {DDERR_TOOBIGSIZE, "The size requested by DirectDraw is too large. However, the individual height and width "
                       "are OK. "},
    {DDERR_TOOBIGWIDTH, "The width requested by DirectDraw is too large. "},
    {DDERR_INVALIDDIRECTDRAWGUID, "The globally unique identifier (GUID) passed to the DirectDrawCreate function is "
                                  "not a valid DirectDraw driver identifier. "},
    {DDERR_NOTLOCKED, "An attempt was made to unlock a surface that was not locked. "},
    {DDERR_CANTCREATEDC, "Windows cannot create any more device contexts (DCs). "},
    {DDERR_NODC, "No DC has ever been created for this surface. "},
    {DDERR_UNSUPPORTEDMODE, "The display is currently in an unsupported mode. "},
    {DDERR_DCALREADYCREATED, "A device context (DC) has already been returned for this surface. Only one DC can be "
                             "retrieved for each surface. "},
};

template <size_t N>
const char* lookUp(const ResultText (&table)[N], DxResult result, const char* otherwise) {
    for (const ResultText& entry : table)
        if (entry.result == result) return entry.text;
    return otherwise;
}

} // namespace

const char* direct3DName(DxResult result) { return lookUp(kDirect3DNames, result, "UNKNOWN ERROR"); }

const char* directDrawDescription(DxResult result) {
    return lookUp(kDirectDrawDescriptions, result, "Unidentified error");
}

DxResult ddResultOf(display::SoftResult result) {
    using display::SoftResult;
    switch (result) {
    case SoftResult::Ok: return DD_OK;
    case SoftResult::InvalidParams: return DDERR_INVALIDPARAMS;
    case SoftResult::InvalidRect: return DDERR_INVALIDRECT;
    case SoftResult::SurfaceBusy: return DDERR_SURFACEBUSY;
    case SoftResult::NotLocked: return DDERR_NOTLOCKED;
    case SoftResult::OutOfVideoMemory: return DDERR_OUTOFVIDEOMEMORY;
    case SoftResult::OutOfMemory: return DDERR_OUTOFMEMORY;
    case SoftResult::Unsupported: return DDERR_UNSUPPORTED;
    case SoftResult::NotCreated: return DDERR_NOTINITIALIZED;
    }
    return DDERR_GENERIC;
}
