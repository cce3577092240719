// Transform arrays: a counted array of transforms, such as the world
// transforms of a pose's joints.
#include "Anim/cvanim.h"
#include "Support/cvsupport.h"

cvXFArray* cvXFArray_Create(int32_t Count) {
  uint64_t bytes = 0;
  if (Count < 0 || !cvSize_Mul(static_cast<uint64_t>(Count), sizeof(cvXForm3d), &bytes)) {
    CV_ERROR(101);
    return nullptr;
  }
  cvXFArray* array = static_cast<cvXFArray*>(cvRam_Allocate(sizeof(cvXFArray)));
  // Allocate at least one element so that an empty array still has storage.
  cvXForm3d* elements = array ? static_cast<cvXForm3d*>(cvRam_Allocate(bytes ? bytes : sizeof(cvXForm3d))) : nullptr;
  if (!elements) {
    cvRam_Free(array);
    CV_ERROR(101);
    return nullptr;
  }
  array->Count = Count;
  array->Elements = elements;
  for (int32_t i = 0; i < Count; ++i) cvXForm3d_SetIdentity(&elements[i]);
  return array;
}

void cvXFArray_Destroy(cvXFArray** Array) {
  if (!Array || !*Array) return;
  cvRam_Free((*Array)->Elements);
  cvRam_Free(*Array);
  *Array = nullptr;
}

cvXForm3d* cvXFArray_GetElements(cvXFArray* Array, int32_t* Count) {
  if (Count) *Count = Array->Count;
  return Array->Elements;
}

void cvXFArray_SetAll(cvXFArray* Array, const cvXForm3d* Transform) {
  for (int32_t i = 0; i < Array->Count; ++i) Array->Elements[i] = *Transform;
}
