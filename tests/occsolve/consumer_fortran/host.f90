! The reference searches through the Fortran module; prints each result as bits.  The
! stateless searches run first in one thread, then in eight OpenMP threads at once, two
! on each of four band structures: every thread must get the single-threaded answer.
program host
    use, intrinsic :: iso_c_binding
    use occsolve
    implicit none
    real(c_double), pointer :: e(:,:,:), w(:)
    real(c_double) :: emin, emax
    integer :: k, b, s, status, i, task, disagree
    logical :: found
    real(c_double) :: alone(4, 0:5), again(4)
    integer :: alone_status(2, 0:5), again_status(2)

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
    found = energy_bracket(emin, emax)  ! the former name: true when set
    call getef_bracket(emin, emax, status)
    found = found .and. status == status_converged
    print '(i0, 1x, a, 1x, a)', merge(1, 0, found), trim(unsigned(emin)), trim(unsigned(emax))
    call getef(emin=emin, emax=emax, status=status)
    call report()

    ! The occupation functions, each argument in its place.
    print '(a, 1x, a)', trim(unsigned(fermi(4.93d0, 5.01d0, 300d0, 2))), trim(unsigned(dfermi(4.93d0, 5.01d0, 300d0, 1)))
    print '(a, 1x, a)', trim(unsigned(fermi(4.93d0, 5.01d0, 1d5, 2))), trim(unsigned(dfermi(4.93d0, 5.01d0, 1d5, 1)))

    ! The stateless searches, alone, then from eight threads at once.
    do i = 0, 5
        call solve(i, alone(:, i), alone_status(:, i))
        print '(i0, 1x, i0, 1x, i0, 4(1x, a))', i, alone_status(1, i), alone_status(2, i), &
            (trim(unsigned(alone(k, i))), k = 1, 4)
    end do
    disagree = 0
    !$omp parallel do num_threads(8) private(i, again, again_status) reduction(+:disagree)
    do task = 0, 7
        i = 2 + mod(task, 4)
        call solve(i, again, again_status)
        if (any(again_status /= alone_status(:, i)) .or. any(transfer(again, 0_c_int64_t, 4) /= &
                transfer(alone(:, i), 0_c_int64_t, 4))) disagree = disagree + 1
    end do
    !$omp end parallel do
    if (disagree == 0) then
        print '(a)', 'threads agree'
    else
        print '(a)', 'threads disagree'
        error stop 1
    end if
    call edge_cases()

contains

    ! Weights fewer than the k-points: unusable, the level as it was.  No bracket, or only
    ! one end given: the data's own bracket, which holds a level below 2 eV.
    subroutine edge_cases()
        real(c_double) :: e(1, 2, 3), short(2), w(3), level, by_default, one_end, lo, hi
        integer :: st
        e = reshape([-1d0, 1d0, -0.5d0, 1.5d0, -0.8d0, 0.7d0], [1, 2, 3])
        short = 0.5d0
        w = 1d0 / 3
        level = 42d0
        call find_level(e, short, 300d0, 2d0, level, st)
        if (st /= status_unusable .or. level /= 42d0) error stop 3
        call find_level(e, w, 300d0, 2d0, by_default, st)
        if (st /= status_converged) error stop 4
        call find_level(e, w, 300d0, 2d0, one_end, st, emin=-30d0)
        if (st /= status_converged .or. one_end /= by_default) error stop 5
        call find_bracket(e, w, 300d0, lo, hi, st)
        call find_level(e, w, 300d0, 2d0, level, st, emin=lo, emax=hi)
        if (level /= by_default) error stop 6
    end subroutine

    ! Band structure i of six, in arrays of our own (see consumer_reference.cpp): its
    ! bracket, level and the count there (r), and the statuses of the bracket and the search.
    recursive subroutine solve(i, r, st)
        integer, intent(in) :: i
        real(c_double), intent(out) :: r(4)
        integer, intent(out) :: st(2)
        real(c_double), parameter :: temperatures(0:5) = [30d0, 300d0, 3000d0, 30000d0, 300000d0, 300d0]
        real(c_double), allocatable :: e(:,:,:), w(:)
        integer :: nspin, nband, nk, k, b, s, st_count
        nspin = 1 + mod(i, 2)
        nband = 8 + 9 * i
        nk = 10 + 23 * i
        allocate(e(nspin, nband, nk), w(nk))
        do k = 1, nk
            w(k) = (1 + mod(k, 3)) / 8d0
            do b = 1, nband
                do s = 1, nspin
                    e(s, b, k) = (mod(37 * k + 101 * b + 53 * s, 997) - 498) / 64d0 + b / 4d0
                end do
            end do
        end do
        r = 0
        call find_bracket(e, w, temperatures(i), r(1), r(2), st(1))
        call find_level(e, w, temperatures(i), 0.75d0 * nband * sum(w), r(3), st(2), emin=r(1), emax=r(2))
        call electron_count(e, w, temperatures(i), r(3), r(4), st_count)
    end subroutine

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
