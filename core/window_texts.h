// Every text the main window and its commands show the operator, in one table (UTF-8), so that
// they can be read together. Captions, hints and labels that belong to a layout stay in the
// window's Designer file; texts of the capture pipeline live with it (capture/pipeline.h).
// "\r" separates lines, as the message boxes show them.
#pragma once

namespace mirestal {

// --- Titles and captions ---
inline constexpr char kApplicationTitle[] = "Mirestal";
inline constexpr char kCaptionHint[] = "提示";
inline constexpr char kCaptionWarning[] = "警告";
inline constexpr char kCaptionConfirm[] = "确认";
inline constexpr char kCaptionConfirmAgain[] = "再次确认";
inline constexpr char kCaptionPackage[] = "打包上报";

// --- Status bar ---
inline constexpr char kStatusAuthority[] = "市教育考试院  www.exam.example.cn";
inline constexpr char kStatusAuthor[] = "软件编制：信息中心  电话：010-00000000";

// --- Roster session ---
// The key field's name and the name shown while no roster with it is open.
inline constexpr char kKeyFieldName[] = "考籍号";
inline constexpr char kNoKeyFieldName[] = "None";
// Open failure: kMsgOpenFailedHead + path + kMsgOpenFailedTail.
inline constexpr char kMsgOpenFailedHead[] = "无法打开文件:";
inline constexpr char kMsgOpenFailedTail[] = "\r\r请确认该文件没有被别的程序打开,或文件格式是否正确";
inline constexpr char kMsgRosterWithoutKey[] = "该文件没有\"考籍号\"字段,无法拍照";

// --- Start-up and closing ---
inline constexpr char kMsgScreenTooSmall[] = "当前屏幕的分辨率太小，请设置成1024X768或以上";
inline constexpr char kMsgEditingOnClose[] =
    "学生信息正处于修改状态中，\r\r请先保存或作废修改内容，再退出窗口";

// --- File dialogs ("description|pattern" filters) ---
inline constexpr char kFilterRoster[] = "dbf文件（*.dbf）|*.dbf|所有文件(*.*)|*.*";
inline constexpr char kFilterWorkbook[] = "Excel文件|*.xls";
inline constexpr char kFilterImportWorkbook[] = "excel文件(*.xls)|*.xls";
inline constexpr char kFilterPackage[] = "zip文件|*.zip";

// --- Workbook conversion ---
inline constexpr char kMsgConverting[] = "正在转换，请稍候。。。";

// --- Find ---
inline constexpr char kMsgChooseField[] = "请先选择合适的信息项！";
inline constexpr char kMsgNotFound[] = "没找到";

// --- Photo coverage ---
inline constexpr char kMsgNoKeyToCount[] = "没有“考籍号”字段，无法统计！";
inline constexpr char kProgressCounting[] = "正在检查学生照片，请稍候。。。";

// --- Student photo panel ---
inline constexpr char kMsgPhotoLoadFailed[] = "调入图片文件出错！";
inline constexpr char kMsgNoPhotoFile[] = "无对应的照片文件";
inline constexpr char kMsgDeletePhotoQuestion[] = "确认要删除该照片吗？";

// --- Export ---
inline constexpr char kMsgExportExists[] = "目标文件已经存在，是否覆盖？";
inline constexpr char kMsgExportCannotDelete[] =
    "目标文件无法删除，\r\r请确认是否该文件已经被打开了，或存在其他问题！";
inline constexpr char kMsgExportFailed[] = "导出Excel文件失败！\r\r请确认你是否已经安装了Office软件！";
inline constexpr char kMsgExportTargetRefused[] = "不能用学生数据文件作为导出文件！";
inline constexpr char kProgressExporting[] = "正在导出学生信息，请稍候。。。";
// After the export, when photos could not be shown on the way: the count, then the keys.
inline constexpr char kMsgExportDamagedPhotosHead[] = "以下学生的照片文件无法调入（已损坏或不完整）：";

// --- Upload package ---
inline constexpr char kMsgNoRosterToPackage[] = "请先打开学生数据文件，再打包上报！";
inline constexpr char kMsgNoKeyToPackage[] = "没有“考籍号”字段，无法打包！";
inline constexpr char kMsgNothingToPackage[] = "没有合格的照片，无法打包！";
inline constexpr char kMsgPackageQuestion[] = "是否把合格的照片打包成上报用的zip文件？";
inline constexpr char kMsgPackageTargetRefused[] = "不能用学生数据文件作为打包文件！";
inline constexpr char kMsgPackageFailed[] = "打包失败！";
inline constexpr char kProgressChecking[] = "正在检查学生照片，请稍候。。。";
inline constexpr char kProgressPacking[] = "正在打包照片，请稍候。。。";

// --- Guided framing and the next student ---
// The advice line under the preview shows AdviceText (capture/face/framing.h).
inline constexpr char kMsgAllStudentsPhotographed[] = "所有学生都已拍照";
// The advice line's colours: green when the framing is good, else dark red.
inline constexpr char kStyleAdviceGood[] = "font-weight: bold; color: rgb(0,128,0);";
inline constexpr char kStyleAdviceOther[] = "font-weight: bold; color: rgb(192,0,0);";

// --- Photos from a camera (导入照片) ---
inline constexpr char kCaptionImportPhotos[] = "导入照片";
inline constexpr char kTitleImportFolder[] = "选择照片所在的文件夹";
inline constexpr char kMsgNoRosterToImport[] = "请先打开学生数据文件，再导入照片！";
inline constexpr char kMsgNoKeyToImport[] = "没有“考籍号”字段，无法导入照片！";
inline constexpr char kMsgImportFolderUnreadable[] = "无法读取该文件夹：";
inline constexpr char kMsgImportFromPhotoFolder[] = "照片文件夹本身不能作为导入照片的文件夹！";
inline constexpr char kMsgNoPicturesToImport[] = "该文件夹中没有文件！";
inline constexpr char kProgressReadingPictures[] = "正在读取照片并查找人脸，请稍候。。。";
inline constexpr char kProgressStoringPhotos[] = "正在保存照片，请稍候。。。";
// The list: its columns, its hint and the summary line before storing.
inline constexpr char kImportColumnPicture[] = "图片";
inline constexpr char kImportColumnFile[] = "文件名";
inline constexpr char kImportColumnStudent[] = "学生（可输入考籍号或姓名）";
inline constexpr char kImportColumnCrop[] = "取景";
inline constexpr char kImportColumnOutcome[] = "结果与提示";
inline constexpr char kImportHint[] =
    "勾选的照片将按取景框裁剪后保存；已有合格照片的学生保留原照片。未对应学生的图片可在“学生”一栏输入考籍号或姓名。";
inline constexpr char kImportWillStore[] = "将保存 %1 张照片";
inline constexpr char kImportDoneTitle[] = "导入照片完成";
inline constexpr char kImportClose[] = "关闭";
// Rows of the list are this high, with the picture's thumbnail.
inline constexpr int kImportThumbnailHeight = 96;

// --- Record maintenance ---
inline constexpr char kMsgDeleteStudentQuestion[] = "确认要删除该学生吗？";
inline constexpr char kMsgDeletePhotoWarning[] = "若有与之对应的照片，也将被删除";

}  // namespace mirestal
