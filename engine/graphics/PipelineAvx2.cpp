// The projection of a model's vertices four at a time with AVX2 (this file alone is built with -mavx2,
// without fused multiply-adds). Every operation is the scalar path's IEEE operation in the same order:
// the transform in float, the projection and the fog distance in double, so the screen vertices are
// identical bit for bit.

#include "engine/graphics/Pipeline.h"

#include <immintrin.h>

namespace {

// round(x) with halves away from zero, for 0 <= x: the integer part plus one where the rest is a half or
// more (x - trunc(x) is exact).
inline __m256d roundHalfAway(__m256d x) {
    const __m256d whole = _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d up = _mm256_cmp_pd(_mm256_sub_pd(x, whole), _mm256_set1_pd(0.5), _CMP_GE_OQ);
    return _mm256_add_pd(whole, _mm256_and_pd(up, _mm256_set1_pd(1.0)));
}

// Row `row` of the rotation applied to (x, y, z), summed left to right as the scalar path does.
inline __m128 rotateRow(const float m[3], __m128 x, __m128 y, __m128 z) {
    const __m128 sum = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(m[0]), x), _mm_mul_ps(_mm_set1_ps(m[1]), y));
    return _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(m[2]), z));
}

} // namespace

void projectModelVerticesAvx2(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                              ScreenVertex* out) {
    const ObjectTransform& t = p.transform;
    const Projection& pr = p.display.projection;
    const __m256d centreX = _mm256_set1_pd(double(pr.centreX)), centreY = _mm256_set1_pd(double(pr.centreY));
    const __m256d scale = _mm256_set1_pd(double(pr.scale)), nearValue = _mm256_set1_pd(double(p.display.rendererNearValue));
    const __m256d nearest = _mm256_set1_pd(1e-6), one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    const __m256d fog = _mm256_set1_pd(double(fogScale)), lastFog = _mm256_set1_pd(double(kFogTableSize - 1));
    const uint8_t* table = p.display.fog.table;
    const int whole = count & ~3;
    for (int i = 0; i < whole; i += 4) {
        const sdk::ModelVertex* v = in + i;
        const __m128 x = _mm_setr_ps(v[0].x, v[1].x, v[2].x, v[3].x);
        const __m128 y = _mm_setr_ps(v[0].y, v[1].y, v[2].y, v[3].y);
        const __m128 z = _mm_setr_ps(v[0].z, v[1].z, v[2].z, v[3].z);
        const __m256d vx = _mm256_cvtps_pd(_mm_add_ps(rotateRow(t.rot[0], x, y, z), _mm_set1_ps(t.trans[0])));
        const __m256d vy = _mm256_cvtps_pd(_mm_add_ps(rotateRow(t.rot[1], x, y, z), _mm_set1_ps(t.trans[1])));
        __m256d vz = _mm256_cvtps_pd(_mm_add_ps(rotateRow(t.rot[2], x, y, z), _mm_set1_ps(t.trans[2])));
        // A distance that is not above the nearest one (NaN included) becomes it.
        vz = _mm256_blendv_pd(nearest, vz, _mm256_cmp_pd(vz, nearest, _CMP_GT_OQ));
        const __m256d rhw = _mm256_div_pd(one, vz);
        __m128 sx = _mm256_cvtpd_ps(_mm256_add_pd(centreX, _mm256_mul_pd(_mm256_mul_pd(vx, scale), rhw)));
        __m128 sy = _mm256_cvtpd_ps(_mm256_sub_pd(centreY, _mm256_mul_pd(_mm256_mul_pd(vy, scale), rhw)));
        __m128 sz = _mm256_cvtpd_ps(_mm256_mul_pd(nearValue, rhw));
        __m128 w = _mm256_cvtpd_ps(rhw);
        _MM_TRANSPOSE4_PS(sx, sy, sz, w);
        // The fog index: the distance in table steps, limited to the table, rounded.
        const __m256d f = _mm256_mul_pd(vz, fog);
        const __m256d bounded = _mm256_and_pd(_mm256_cmp_pd(f, zero, _CMP_GT_OQ), _mm256_min_pd(f, lastFog));
        alignas(16) int32_t index[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm256_cvttpd_epi32(roundHalfAway(bounded)));
        const __m128 corners[4] = {sx, sy, sz, w};
        for (int k = 0; k < 4; ++k) {
            ScreenVertex& s = out[i + k];
            _mm_storeu_ps(&s.sx, corners[k]);
            s.diffuse = v[k].diffuse;
            s.specular = (uint32_t(table[index[k]]) << 24) | (v[k].specular & 0xFFFFFF);
            s.tu = v[k].u;
            s.tv = v[k].v;
        }
    }
    projectModelVerticesScalar(p, in + whole, count - whole, fogScale, out + whole);
}
