! The Fermi-level search as a careful Fortran programmer writes it, for the benchmark's
! yardstick: every state on every pass, bands of a k-point summed in order, weighted once,
! then k-points, then spins; kT and the full occupation formed once.  Built with -O2
! -ffp-contract=off, it must give getef's bits.
subroutine plain_sweep(nspin, nband, nk, e, w, t, totale, lo_in, hi_in, level, passes) bind(C, name="plain_sweep_fortran")
    use, intrinsic :: iso_c_binding
    implicit none
    integer(c_int32_t), value :: nspin, nband, nk
    real(c_double), intent(in) :: e(nspin, nband, nk), w(nk)
    real(c_double), value :: t, totale, lo_in, hi_in
    real(c_double), intent(out) :: level
    integer(c_int64_t), intent(out) :: passes
    real(c_double), parameter :: kB = 8.6174103d-5, cutoff = 40d0
    real(c_double) :: kT, g, lo, hi, x, total, occ(nspin), nel(nspin)
    integer :: k, b, s
    kT = kB * t
    g = real(2.0 / real(nspin), c_double)
    lo = lo_in
    hi = hi_in
    passes = 0
    do
        level = (lo + hi) * 0.5d0
        passes = passes + 1
        nel = 0
        do k = 1, nk
            occ = 0
            do b = 1, nband
                do s = 1, nspin
                    x = (e(s, b, k) - level) / kT
                    if (x > cutoff) then
                        ! empty: adds nothing
                    else if (x < -cutoff) then
                        occ(s) = occ(s) + g
                    else
                        occ(s) = occ(s) + g / (exp(x) + 1d0)
                    end if
                end do
            end do
            do s = 1, nspin
                nel(s) = nel(s) + occ(s) * w(k)
            end do
        end do
        total = 0
        do s = 1, nspin
            total = total + nel(s)
        end do
        if (abs(total - totale) < 1d-8) exit
        if (total /= total .or. level == lo .or. level == hi) exit
        if (total > totale) hi = level
        if (total < totale) lo = level
    end do
end subroutine
