! The reference searches through the Fortran module; prints each result as bits.
program host
    use, intrinsic :: iso_c_binding
    use occsolve
    implicit none
    real(c_double), pointer :: e(:,:,:), w(:)
    real(c_double) :: emin, emax
    integer :: k, b, s, status
    logical :: found

    ! Bands at 4 and 6 eV, 2 electrons, 300 K: the default bracket, then 4.5 to 5.5.
    call set_state(nspin=1, nk=1, nband=2, t=300d0, totale=2d0)
    call allocate_bandenergy(e, 1, 2, 1)
    call allocate_kwpt(w, 1)
    e(1, :, 1) = [4d0, 6d0]
    w = 1d0
    call getef(status=status)
    call report()
    call getef(emin=4.5d0, emax=5.5d0, status=status)
    call report()

    ! Two spin channels, two k-points of weight 1/2, three bands below 0 eV, 500 K.
    call set_state(nspin=2, nk=2, nband=3, t=500d0, totale=2.5d0)
    call allocate_bandenergy(e, 2, 3, 2)
    call allocate_kwpt(w, 2)
    w = 0.5d0
    do k = 1, 2
        do b = 1, 3
            do s = 1, 2
                e(s, b, k) = -9d0 + 2d0 * (b - 1) + (s - 1) + 0.5d0 * (k - 1)
            end do
        end do
    end do
    call getef(status=status)  ! stalls at 2 eV
    call report()
    emin = 0
    emax = 0
    found = energy_bracket(emin, emax)
    print '(i0, 1x, a, 1x, a)', merge(1, 0, found), trim(unsigned(emin)), trim(unsigned(emax))
    call getef(emin=emin, emax=emax, status=status)
    call report()

contains

    ! The bits of a double as the unsigned decimal the C host prints.
    function unsigned(x) result(text)
        real(c_double), intent(in) :: x
        character(len=24) :: text
        integer(c_int64_t) :: bits
        integer :: i, digit
        integer(c_int64_t) :: high, low, half
        character(len=24) :: reversed
        bits = transfer(x, bits)
        ! The unsigned value is 2 half + the low bit = 10 (half / 5) + 2 mod(half, 5) + the
        ! low bit: its last digit and the rest, with no signed overflow.
        half = ishft(bits, -1)
        high = half / 5
        low = 2 * mod(half, 5_c_int64_t) + iand(bits, 1_c_int64_t)
        reversed = ''
        i = 0
        do
            digit = int(low)
            i = i + 1
            reversed(i:i) = achar(iachar('0') + digit)
            if (high == 0) exit
            low = mod(high, 10_c_int64_t)
            high = high / 10
        end do
        text = ''
        do digit = 1, i
            text(digit:digit) = reversed(i - digit + 1:i - digit + 1)
        end do
    end function

    subroutine report()
        integer :: ik, iband, ispin
        call counters(ik, iband, ispin)
        print '(a, 1x, i0, 1x, i0, 1x, i0, 1x, i0)', trim(unsigned(efermi())), status, ik, iband, ispin
    end subroutine

end program host
