// The status texts the tests expect, as UTF-8, written down here once and
// independently of the program, so that a changed or mistyped message in
// the program fails the tests.
#pragma once

inline constexpr char kChanged[] = "확인 중 설치 파일이 바뀌었습니다. 다시 실행해 주세요.";
inline constexpr char kInUse[] = "게임 또는 다른 프로그램이 파일을 사용 중입니다. 종료 후 다시 실행해 주세요.";
inline constexpr char kFolderChanged[] = "설치 폴더가 변경되었습니다. 다시 실행해 주세요.";
inline constexpr char kRestored[] = "적용에 실패해 이전 파일로 복구했습니다. 로그를 확인해 주세요.";
inline constexpr char kPartlyRestored[] = "복구 일부가 실패했습니다. .quenfar8-update 폴더의 backup 폴더와 로그를 보존해 주세요.";
inline constexpr char kFinalFailed[] = "적용 후 검증에 실패했습니다. 게임을 시작하지 않습니다.";
inline constexpr char kBadPath[] = "잘못된 패치 파일 경로입니다.";
inline constexpr char kNoPackageFile[] = "패키지 파일이 없습니다.";
inline constexpr char kPackageSize[] = "패키지 파일 크기가 다릅니다.";
inline constexpr char kPackageCopy[] = "패키지 파일을 복사하지 못했습니다.";
inline constexpr char kNeedHttps[] = "HTTPS 패치 주소가 필요합니다.";
inline constexpr char kDownloadFailed[] = "패치 다운로드에 실패했습니다. 연결과 배포 주소를 확인해 주세요.";
inline constexpr char kUnsupported[] = "지원하지 않는 패치 목록입니다.";
inline constexpr char kBadLaunch[] = "실행 파일 정보가 올바르지 않습니다.";
inline constexpr char kBadEntry[] = "패치 목록에 잘못된 파일 정보가 있습니다.";
inline constexpr char kDuplicate[] = "중복된 패치 파일입니다.";
inline constexpr char kLaunchNotListed[] = "실행 파일 검증 항목이 없습니다.";
inline constexpr char kApplying[] = "검증 완료. 클라이언트에 적용 중...";
inline constexpr char kReady[] = "최신 클라이언트입니다. 게임 시작을 눌러 주세요.";
inline constexpr char kChecking[] = "파일 확인 중: ";
inline constexpr char kNotRegular[] = "일반 파일이 아닌 설치 경로입니다.";
inline constexpr char kUnreadable[] = "설치 파일을 읽지 못했습니다. 게임을 종료해 주세요.";
inline constexpr char kBadPatch[] = "차등 패치 정보가 올바르지 않습니다.";
inline constexpr char kNoSpace[] = "패치 복원에 필요한 디스크 공간이 부족합니다.";
inline constexpr char kDownloadCheck[] = "다운로드 검증에 실패했습니다. 기존 파일은 보존됩니다.";
inline constexpr char kBadTool[] = "hpatchz.exe가 없거나 배포본과 다릅니다.";
inline constexpr char kToolNotStarted[] = "차등 패치 도구를 실행하지 못했습니다.";
inline constexpr char kRebuildFailed[] = "차등 패치 복원에 실패했습니다. 기존 파일은 보존됩니다.";
inline constexpr char kFinalCheck[] = "복원 파일 검증에 실패했습니다. 기존 파일은 보존됩니다.";
// The line of each wait before another attempt in resilient mode, up to
// the attempt's number.
inline constexpr char kRetryingPrefix[] = "연결이 원활하지 않아 다시 연결합니다. (";
